#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs a helper tool (xdotool, xwininfo, ...) to its end within a time
// limit; true when it exited 0. Never waits longer than the limit.
inline bool runTool(const QStringList &args, const QProcessEnvironment &env,
                    QByteArray *out = nullptr, int timeoutMs = 5000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(args.first(), args.mid(1));
    if (!p.waitForStarted(3000))
        return false;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The environment the program gets under the test's own X server: that
// display, a private runtime directory for the alert page, US English.
inline QProcessEnvironment programEnvironment(const QString &display, const QString &runtimeDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("WAYLAND_DISPLAY");
    env.insert("DISPLAY", display);
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
    env.insert("LANG", "en_US.UTF-8");
    return env;
}
