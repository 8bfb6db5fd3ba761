#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
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
