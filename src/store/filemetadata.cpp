#include "store/filemetadata.h"

#include "store/safefile.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace Module1 {

namespace {

// The user.* attributes (a sync tool's id, a tag): the others belong to
// the system or need privileges, and none of them is the user's data.
QString copyUserAttributes(int from, int to)
{
    QByteArray names(4096, Qt::Uninitialized);
    ssize_t length = ::flistxattr(from, names.data(), size_t(names.size()));
    if (length < 0 && errno == ERANGE) {
        length = ::flistxattr(from, nullptr, 0);
        if (length > 0) {
            names.resize(length);
            length = ::flistxattr(from, names.data(), size_t(names.size()));
        }
    }
    if (length <= 0)
        return {};  // none, or the file system keeps none
    QStringList lost;
    int reason = 0;
    for (qsizetype at = 0; at < length;) {
        const char *name = names.constData() + at;
        at += qsizetype(std::strlen(name)) + 1;
        if (std::strncmp(name, "user.", 5) != 0)
            continue;
        QByteArray value;
        ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size >= 0) {
            value.resize(size);
            size = ::fgetxattr(from, name, value.data(), size_t(value.size()));
        }
        if (size < 0 || ::fsetxattr(to, name, value.constData(), size_t(size), 0) != 0) {
            reason = errno;
            lost << QString::fromUtf8(name);
        }
    }
    if (lost.isEmpty())
        return {};
    return QStringLiteral("its attributes %1 (%2)")
        .arg(lost.join(QStringLiteral(", ")), systemError(reason));
}

// Its own ACL, or none: a new file in a folder with a default ACL would
// otherwise take the folder's, and let in someone the old file kept out.
QString copyAccessAcl(int from, int to)
{
    static const char name[] = "system.posix_acl_access";
    QByteArray value(256, Qt::Uninitialized);
    ssize_t n = ::fgetxattr(from, name, value.data(), size_t(value.size()));
    if (n < 0 && errno == ERANGE) {
        n = ::fgetxattr(from, name, nullptr, 0);
        if (n > 0) {
            value.resize(n);
            n = ::fgetxattr(from, name, value.data(), size_t(value.size()));
        }
    }
    const auto lost = [](int error) {
        return QStringLiteral("its access control list (%1)").arg(systemError(error));
    };
    if (n < 0 && errno != ENODATA && errno != EOPNOTSUPP)
        return lost(errno);
    if (n < 0) {
        if (::fremovexattr(to, name) != 0 && errno != ENODATA && errno != EOPNOTSUPP)
            return lost(errno);
        return {};
    }
    if (::fsetxattr(to, name, value.constData(), size_t(n), 0) != 0)
        return lost(errno);
    return {};
}

}  // namespace

// The new file takes the old one's owner, group, ACL, mode and user.*
// attributes, so that a save changes nothing about who may read or write
// it. Says what could not be kept.
QStringList keepMetadata(int oldFd, const struct stat &old, int newFd)
{
    QStringList lost;
    struct stat now { };
    if (::fstat(newFd, &now) != 0)
        return {QStringLiteral("its owner and group (%1)").arg(systemError(errno))};
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (::fchown(newFd, old.st_uid, old.st_gid) != 0) {
            const QString why = systemError(errno);
            const bool ownerKept = now.st_uid == old.st_uid;
            const bool groupKept =
                now.st_gid == old.st_gid || ::fchown(newFd, uid_t(-1), old.st_gid) == 0;
            lost << (ownerKept   ? QStringLiteral("its group (%1)").arg(why)
                     : groupKept ? QStringLiteral("its owner (%1)").arg(why)
                                 : QStringLiteral("its owner and group (%1)").arg(why));
        }
    }
    if (oldFd >= 0) {
        const QString acl = copyAccessAcl(oldFd, newFd);
        if (!acl.isEmpty())
            lost << acl;
    }
    // After the owner: a change of owner clears the set-id bits.
    if (::fchmod(newFd, old.st_mode & 07777) != 0)
        lost << QStringLiteral("its permissions (%1)").arg(systemError(errno));
    if (oldFd >= 0) {
        const QString attributes = copyUserAttributes(oldFd, newFd);
        if (!attributes.isEmpty())
            lost << attributes;
    }
    return lost;
}

}  // namespace Module1
