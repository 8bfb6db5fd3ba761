#include "sync/config.h"

#include "store/settingsfile.h"
#include "sync/keyring.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

using namespace Module1;

namespace qsync {

namespace {

QJsonObject allLists(QString *why, bool *ok)
{
    *ok = true;
    const std::optional<QByteArray> bytes =
        readSettingsBytes(configFilePath(), QByteArrayLiteral("sync"), QByteArrayLiteral("lists"));
    if (!bytes)
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        *ok = false;
        *why = QStringLiteral("%1 is damaged (%2); run quillet --sync-setup again")
                   .arg(configFilePath(), error.errorString());
    }
    return document.object();
}

}  // namespace

QString configFilePath()
{
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        home = QDir::homePath() + QStringLiteral("/.config");
    return home + QStringLiteral("/quillet/sync.conf");
}

std::optional<Config> readConfig(const QString &listPath, QString *why)
{
    bool ok = false;
    const QJsonObject lists = allLists(why, &ok);
    if (!ok || !lists.contains(listPath))
        return std::nullopt;
    const QJsonObject o = lists.value(listPath).toObject();
    Config c;
    c.collection = o.value(QLatin1String("collection")).toString();
    c.user = o.value(QLatin1String("user")).toString();
    c.passwordCommand = o.value(QLatin1String("password-command")).toString();
    c.keyring = o.value(QLatin1String("keyring")).toBool();
    if (c.collection.isEmpty())
        return std::nullopt;
    return c;
}

bool writeConfig(const QString &listPath, const Config &c, QString *why)
{
    bool ok = false;
    QJsonObject lists = allLists(why, &ok);
    lists.insert(listPath, QJsonObject{{QStringLiteral("collection"), c.collection},
                                       {QStringLiteral("user"), c.user},
                                       {QStringLiteral("password-command"), c.passwordCommand},
                                       {QStringLiteral("keyring"), c.keyring}});
    QDir().mkpath(QFileInfo(configFilePath()).path());
    const OwnFileWrite written =
        writeSettingsBytes(configFilePath(), QByteArrayLiteral("sync"), QByteArrayLiteral("lists"),
                           QJsonDocument(lists).toJson(QJsonDocument::Compact));
    if (!written.ok()) {
        *why = written.why;
        return false;
    }
    return true;
}

bool runPasswordCommand(const QString &command, QString *password, QString *why)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    // A command that asks (a pinentry) may take a while; not forever.
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        *why = QStringLiteral("the password command did not finish: %1").arg(command);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *why = QStringLiteral("the password command failed (status %1): %2")
                   .arg(process.exitCode())
                   .arg(command);
        return false;
    }
    const QByteArray out = process.readAllStandardOutput();
    *password = QString::fromUtf8(out.left(out.indexOf('\n') < 0 ? out.size() : out.indexOf('\n')));
    if (password->endsWith(QLatin1Char('\r')))
        password->chop(1);
    return true;
}

bool fetchPassword(const Config &c, QString *password, QString *why)
{
    password->clear();
    if (!c.passwordCommand.isEmpty())
        return runPasswordCommand(c.passwordCommand, password, why);
    if (c.keyring)
        return lookUpPassword(c.collection, c.user, password, why);
    return true;
}

}  // namespace qsync
