#include "store/runtimefolder.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Module1 {

int openPrivateFolder(const QByteArray &path, uid_t uid, QString *why)
{
    const QString shown = QFile::decodeName(path);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *why = QStringLiteral("%1 could not be made: %2").arg(shown, qt_error_string(errno));
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

QString privateRuntimeFolder()
{
    // Looked up once: Qt warns on every lookup when XDG_RUNTIME_DIR is unset.
    static const QString runtime =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return {};
    const QString folder = runtime + QStringLiteral("/quillet");
    QString why;
    const int fd = openPrivateFolder(QFile::encodeName(folder), ::geteuid(), &why);
    if (fd < 0)
        return {};
    ::close(fd);
    return folder;
}

}  // namespace Module1
