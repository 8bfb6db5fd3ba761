#include "store/runtimefolder.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Module1 {

int openPrivateFolder(const QByteArray &path, uid_t uid, QString *why)
{
    const QString shown = QFile::decodeName(path);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *why = QStringLiteral("%1 could not be made: %2").arg(shown, systemError(errno));
        return -1;
    }
    // O_NOFOLLOW: a link is refused, wherever it points. The checks are
    // made on what was opened, so nothing can be swapped in after them.
    const int fd = ::open(path.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st { };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid ||
        (st.st_mode & 077) != 0) {
        if (fd >= 0)
            ::close(fd);
        *why = QStringLiteral("%1 is not a folder of this user's alone").arg(shown);
        return -1;
    }
    return fd;
}

PrivateFolder privateRuntimeFolder()
{
    // Looked up once: Qt warns on every lookup when XDG_RUNTIME_DIR is unset.
    static const QString runtime =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    PrivateFolder folder;
    if (runtime.isEmpty()) {
        folder.why = QStringLiteral("there is no runtime folder for this user");
        return folder;
    }
    folder.path = runtime + QStringLiteral("/quillet");
    folder.fd =
        UniqueFd(openPrivateFolder(QFile::encodeName(folder.path), ::geteuid(), &folder.why));
    return folder;
}

PrivateFolder openLockFolder()
{
    PrivateFolder runtime = privateRuntimeFolder();
    if (runtime.valid())
        return runtime;
    PrivateFolder fallback;
    fallback.path = QDir::tempPath() + QStringLiteral("/quillet-%1").arg(::geteuid());
    fallback.fd =
        UniqueFd(openPrivateFolder(QFile::encodeName(fallback.path), ::geteuid(), &fallback.why));
    // Why neither: the runtime folder is the one a user would mend.
    if (!fallback.valid())
        fallback.why = runtime.why + QStringLiteral("; ") + fallback.why;
    return fallback;
}

int openLockFile(int folder, const QByteArray &name, QString *why)
{
    // O_RDONLY is enough for flock, and creates nothing through a link.
    const int fd = ::openat(folder, name.constData(),
                            O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        *why = systemError(errno);
        return -1;
    }
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        *why = S_ISREG(st.st_mode) ? QStringLiteral("not this user's file")
                                   : QStringLiteral("not a regular file");
        ::close(fd);
        return -1;
    }
    return fd;
}

qint64 flockHolder(int fd)
{
    struct stat st { };
    QFile list(QStringLiteral("/proc/locks"));
    if (::fstat(fd, &st) != 0 || !list.open(QIODevice::ReadOnly))
        return 0;
    // "1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF", the
    // device numbers in hex; a waiter's line has "->" after the number.
    const QByteArray file = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(quint64(st.st_ino));
    for (const QByteArray &line : list.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 5 && fields[1] == "FLOCK" && fields[5] == file)
            return fields[4].toLongLong();
    }
    return 0;
}

}  // namespace Module1
