#pragma once

#include <QString>

#include <optional>

namespace qsync {

// A list's sync settings, in $XDG_CONFIG_HOME/quillet/sync.conf by the
// list's path; never a password.
struct Config {
    QString collection;  // the collection's URL
    QString user;
    QString passwordCommand;  // run at each sync; empty: the keyring, if any
    bool keyring = false;     // a password is in the Secret Service
};

QString configFilePath();
// The settings of the list at `listPath`, or none.
std::optional<Config> readConfig(const QString &listPath, QString *why);
// Replaces the list's settings, keeping the other lists'.
bool writeConfig(const QString &listPath, const Config &config, QString *why);

// The password for a sync: the command's first line of output, or the
// keyring's. An empty one without a failure means none is needed.
bool fetchPassword(const Config &config, QString *password, QString *why);
// Runs CMD as the shell does; its first line of output.
bool runPasswordCommand(const QString &command, QString *password, QString *why);

}  // namespace qsync
