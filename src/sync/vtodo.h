#pragma once

#include "sync/fields.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace qsync {

// A new calendar resource for a task: one VTODO with its UID, the fields
// (the due in UTC, recycled as STATUS:CANCELLED) and a display alarm at
// the due moment.
QByteArray newResource(const QString &uid, const Fields &fields, const QDateTime &now);

// The server's copy with only what changed between `was` (the fields it
// holds) and `now` rewritten: SUMMARY, CONTACT, DESCRIPTION, DUE, STATUS
// (and a COMPLETED mark when the task is restored), SEQUENCE one up,
// LAST-MODIFIED and DTSTAMP set. Every other line, of the to-do and
// around it, stays byte for byte; no alarm is added.
QByteArray patchResource(const QByteArray &resource, const Fields &was, const Fields &now,
                         const QDateTime &stamp);

// A TEXT value escaped as RFC 5545 writes it, and a content line folded
// at 75 octets without cutting a UTF-8 character.
QByteArray escapeText(const QString &text);
QByteArray foldLine(const QByteArray &line);

}  // namespace qsync
