#pragma once

#include <QString>

// The password in the Secret Service (the desktop's keyring), by the
// collection and user it is for.
namespace qsync {

bool storePassword(const QString &collection, const QString &user, const QString &password,
                   QString *why);
bool lookUpPassword(const QString &collection, const QString &user, QString *password,
                    QString *why);

}  // namespace qsync
