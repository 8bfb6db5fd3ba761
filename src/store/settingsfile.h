#pragma once
// The main window's settings file (quillet.conf): an INI file as QSettings
// writes it, read and written through the store's writer, so that a link,
// a pipe or a full disk there is met as at every file Quillet writes.

#include "store/safefile.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace Module1 {

// No settings file of Quillet's is larger; a larger one is not read.
inline constexpr qint64 kLargestSettingsFile = 64 * 1024;

// The byte array stored under "group/key" (as QSettings stores a
// QByteArray: @ByteArray(...)), or none: no such file or key, or a file
// that is not a regular file.
std::optional<QByteArray> readSettingsBytes(const QString &path, const QByteArray &group,
                                            const QByteArray &key);

// Writes the file whole, holding that one value; QSettings reads it back.
OwnFileWrite writeSettingsBytes(const QString &path, const QByteArray &group, const QByteArray &key,
                                const QByteArray &value);

}  // namespace Module1
