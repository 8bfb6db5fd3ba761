#pragma once

#include <QByteArray>
#include <QDate>
#include <QTime>
#include <QFile>
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

// The program sees the day the unit tests run on, 2026-12-08, through
// libfaketime, so due texts and colours do not depend on when the suite
// runs. Monotonic clocks stay real: timers and timeouts keep working.
inline const QDate kFixedToday(2026, 12, 8);
inline void pinToday(QProcessEnvironment &env)
{
    const QString faketime = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1");
    if (!QFile::exists(faketime))
        return;
    env.insert("LD_PRELOAD", faketime);
    // A sanitizer build wants its runtime first; faketime only wraps the clock.
    const QString asan = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS",
               (asan.isEmpty() ? QString() : asan + ':') + "verify_asan_link_order=0");
    // The time of day stays real (a little ahead, as the preload drops the
    // fraction of a second): files written meanwhile never lie in the
    // program's future.
    env.insert("FAKETIME", "@2026-12-08 " + QTime::currentTime().addSecs(2).toString("HH:mm:ss"));
    env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    env.insert("FAKETIME_DONT_RESET", "1");
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
    pinToday(env);
    return env;
}
