#pragma once
// Many writers of one list at once: `quillet --add` started together, as a
// user's scripts or several terminals start them, each a process of the
// built program; and where the list's lock lies.

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/stat.h>

namespace testsupport {

class ConcurrentAdds {
public:
    // Starts `count` adds titled "<prefix> 1", "<prefix> 2", ... one right
    // after the other, none waited for.
    void start(int count, const QString &prefix, const QString &folder,
               const QProcessEnvironment &env, const QStringList &more = {})
    {
        m_clock.start();
        for (int i = 1; i <= count; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setProcessEnvironment(env);
            p->setWorkingDirectory(folder);
            p->setStandardInputFile(QProcess::nullDevice());
            p->setStandardOutputFile(QProcess::nullDevice());
            const QString title = QStringLiteral("%1 %2").arg(prefix).arg(i);
            p->start(QStringLiteral(QUILLET_BINARY),
                     QStringList{"--add", title, "--due", "2027-01-15 10:00"} + more);
            m_runs.push_back({title, std::move(p), {}});
        }
    }

    bool running()
    {
        QCoreApplication::processEvents();
        for (Run &r : m_runs) {
            if (r.process->state() != QProcess::NotRunning)
                return true;
        }
        return false;
    }

    // Waits for every one; false when one is still running after the
    // guard (then killed).
    bool finish(int guardMs = 120000)
    {
        bool all = true;
        for (Run &r : m_runs) {
            const qint64 left = guardMs - m_clock.elapsed();
            if (r.process->state() != QProcess::NotRunning &&
                !r.process->waitForFinished(int(std::max<qint64>(left, 1)))) {
                r.process->kill();
                r.process->waitForFinished(3000);
                all = false;
            }
            r.errors += r.process->readAllStandardError();
        }
        m_elapsedMs = m_clock.elapsed();
        return all;
    }

    // The titles of the adds that ended with status 0.
    QStringList succeeded() const
    {
        QStringList titles;
        for (const Run &r : m_runs) {
            if (r.process->exitStatus() == QProcess::NormalExit && r.process->exitCode() == 0)
                titles << r.title;
        }
        return titles;
    }
    // What the others said, one line each.
    QByteArray failures() const
    {
        QByteArray text;
        for (const Run &r : m_runs) {
            if (r.process->exitStatus() != QProcess::NormalExit || r.process->exitCode() != 0)
                text += r.title.toUtf8() + " (" + QByteArray::number(r.process->exitCode()) +
                        "): " + r.errors.trimmed() + '\n';
        }
        return text;
    }
    qint64 elapsedMs() const { return m_elapsedMs; }

private:
    struct Run {
        QString title;
        std::unique_ptr<QProcess> process;
        QByteArray errors;
    };
    std::vector<Run> m_runs;
    QElapsedTimer m_clock;
    qint64 m_elapsedMs = 0;
};

// The titles of a task file as it lies on disk, in file order.
inline QStringList titlesIn(const QByteArray &file)
{
    QStringList titles;
    for (const QByteArray &line : file.split('\n')) {
        if (line.startsWith("ttl="))
            titles << QString::fromUtf8(line.mid(4).trimmed());
    }
    return titles;
}

// The lock files of the lists in `taskFolder`, in the lock folder
// `lockFolder`: named, as the one-copy lock is, by the task folder's device
// and inode.
inline QStringList listLockFiles(const QString &lockFolder, const QString &taskFolder,
                                 const QByteArray &fileName = "tasks.txt")
{
    struct stat st { };
    if (::stat(QFile::encodeName(taskFolder).constData(), &st) != 0)
        return {};
    // Named as the store names it: another list of a folder that had this
    // folder's inode before must not count.
    const QString name =
        QStringLiteral("list-%1-%2-%3.lock")
            .arg(quint64(st.st_dev), 0, 16)
            .arg(quint64(st.st_ino), 0, 16)
            .arg(QString::fromLatin1(
                QCryptographicHash::hash(fileName, QCryptographicHash::Sha256).toHex().left(12)));
    const QDir folder(lockFolder);
    return folder.exists(name) ? QStringList{folder.filePath(name)} : QStringList{};
}

}  // namespace testsupport
