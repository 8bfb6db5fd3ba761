#include "store/safefile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace Module1 {

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

namespace {

std::function<void()> g_beforeRename;

qint64 nanoseconds(const timespec &t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; }

FileStamp stampOf(const struct stat &st)
{
    return {
        true, st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

// Through fstat, as the read took its stamp: a preloaded clock (libfaketime
// in the tests) may shift the times of one call and not of another.
FileStamp stampAt(const FolderFile &file)
{
    const UniqueFd fd(
        ::openat(file.folder, file.name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st { };
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0)
        return {};
    return stampOf(st);
}

// 0 when every byte reached the disk, else the errno of the failure.
int writeAll(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += n;
    }
    // A file system that cannot sync at all (EINVAL) has still taken the
    // bytes.
    if (::fsync(fd) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

// A new name beside the target, created exclusively: nothing that stands
// in the folder is ever opened or followed.
UniqueFd createBeside(const FolderFile &target, mode_t mode, QByteArray *name)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = '.' + target.name + '.';
        for (int i = 0; i < 6; ++i)
            *name += letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))];
        const int fd = ::openat(target.folder, name->constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST)
            return UniqueFd(fd);
    }
    errno = EEXIST;
    return UniqueFd();
}

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

// The new file takes the old one's owner, group and mode, so a save by
// root or by another member of the file's group does not lock its owner or
// the group out. Says what could not be kept.
QStringList keepOwnership(int oldFd, const struct stat &old, int newFd)
{
    QStringList lost;
    struct stat now { };
    if (::fstat(newFd, &now) != 0)
        return {QStringLiteral("its owner and group (%1)").arg(systemError(errno))};
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (::fchown(newFd, old.st_uid, old.st_gid) != 0) {
            const int error = errno;
            // Another user's file in a group we share: the group at least.
            const bool groupKept =
                now.st_gid == old.st_gid || ::fchown(newFd, uid_t(-1), old.st_gid) == 0;
            lost << (groupKept
                         ? QStringLiteral("its owner (%1)").arg(systemError(error))
                         : QStringLiteral("its owner and group (%1)").arg(systemError(error)));
        }
    }
    if (::fchmod(newFd, old.st_mode & 07777) != 0)
        lost << QStringLiteral("its permissions (%1)").arg(systemError(errno));
    if (oldFd >= 0) {
        const QString attributes = copyUserAttributes(oldFd, newFd);
        if (!attributes.isEmpty())
            lost << attributes;
    }
    return lost;
}

}  // namespace

void setBeforeRenameHook(std::function<void()> hook) { g_beforeRename = std::move(hook); }

std::optional<FolderIdentity> folderIdentity(const QString &folder)
{
    struct stat st { };
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return std::nullopt;
    return FolderIdentity{st.st_dev, st.st_ino};
}

bool folderRemoved(int folder)
{
    struct stat st { };
    return ::fstat(folder, &st) == 0 && st.st_nlink == 0;
}

ReadResult readRegularFile(const FolderFile &file)
{
    ReadResult r;
    const UniqueFd fd(
        ::openat(file.folder, file.name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        r.outcome = errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
        r.why = systemError(errno);
        return r;
    }
    struct stat st { };
    if (::fstat(fd.get(), &st) != 0) {
        r.why = systemError(errno);
        return r;
    }
    if (S_ISDIR(st.st_mode)) {
        r.why = QStringLiteral("it is a folder, not a file");
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.why = QStringLiteral("it is not a regular file (a device, a pipe or a socket)");
        return r;
    }
    r.stamp = stampOf(st);
    // Read straight into the buffer, sized as the file is now; a file that
    // grows meanwhile is read to its end all the same.
    qsizetype have = 0;
    r.bytes.resize(qsizetype(st.st_size) + 1);
    for (;;) {
        if (have == r.bytes.size())
            r.bytes.resize(r.bytes.size() * 2);
        const ssize_t got = ::read(fd.get(), r.bytes.data() + have, size_t(r.bytes.size() - have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            r.why = systemError(errno);
            break;
        }
        if (got == 0) {
            r.outcome = ReadResult::Read;
            break;
        }
        have += got;
    }
    r.bytes.truncate(have);
    return r;
}

WriteTarget resolveForWriting(const FolderFile &file)
{
    WriteTarget t;
    t.file = file;
    // As the kernel gives up on a chain of links.
    for (int hops = 0;; ++hops) {
        struct stat st { };
        if (::fstatat(t.file.folder, t.file.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(st.st_mode))
            return t;  // missing or not a link: this is what is written
        if (hops == 40) {
            t.refused =
                QStringLiteral("%1 could not be saved: %2").arg(file.shown, systemError(ELOOP));
            return t;
        }
        if (st.st_uid != ::geteuid() && st.st_uid != 0) {
            t.refused = QStringLiteral(
                            "%1 is a link that belongs to another user, so Quillet does "
                            "not write through it. Remove the link, or ask its owner "
                            "why it is there.")
                            .arg(t.file.shown);
            return t;
        }
        QByteArray to(4096, Qt::Uninitialized);
        const ssize_t n =
            ::readlinkat(t.file.folder, t.file.name.constData(), to.data(), size_t(to.size()));
        if (n <= 0 || n == to.size()) {
            t.refused = QStringLiteral("%1 could not be saved: %2")
                            .arg(file.shown, systemError(n < 0 ? errno : ENAMETOOLONG));
            return t;
        }
        to.truncate(n);
        const qsizetype slash = to.lastIndexOf('/');
        const QByteArray folderPart = slash < 0    ? QByteArray(".")
                                      : slash == 0 ? QByteArray("/")
                                                   : to.left(slash);
        const QByteArray name = to.mid(slash + 1);
        const int base = to.startsWith('/') ? AT_FDCWD : t.file.folder;
        UniqueFd folder(::openat(base, folderPart.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder.valid() || name.isEmpty() || name == "." || name == "..") {
            t.refused =
                QStringLiteral("%1 could not be saved: it is a link to %2, %3")
                    .arg(file.shown, QFile::decodeName(to),
                         folder.valid() ? QStringLiteral("which is not a file")
                                        : QStringLiteral("whose folder cannot be opened (%1)")
                                              .arg(systemError(errno)));
            return t;
        }
        const QString shownFolder = to.startsWith('/')
                                        ? QFile::decodeName(folderPart)
                                        : t.file.shown.left(t.file.shown.lastIndexOf(u'/')) + u'/' +
                                              QFile::decodeName(folderPart);
        t.folder = std::move(folder);
        t.file = {t.folder.get(), name, shownFolder + u'/' + QFile::decodeName(name)};
    }
}

ReplaceResult replaceFile(const FolderFile &target, QByteArrayView bytes, const FileStamp &expected,
                          bool syncFolder)
{
    ReplaceResult result;
    auto fail = [&](int error) {
        result.outcome = ReplaceResult::Failed;
        result.why = systemError(error);
        return result;
    };

    struct stat old { };
    const bool hadOld =
        ::fstatat(target.folder, target.name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(old.st_mode);
    // Until it takes the old file's mode, the new file is the owner's alone.
    QByteArray tempName;
    const UniqueFd temp = createBeside(target, hadOld ? 0600 : 0666, &tempName);
    if (!temp.valid())
        return fail(errno);
    auto discard = [&](int error) {
        ::unlinkat(target.folder, tempName.constData(), 0);
        return fail(error);
    };

    QStringList lost;
    if (hadOld) {
        const UniqueFd oldFd(::openat(target.folder, target.name.constData(),
                                      O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
        lost = keepOwnership(oldFd.get(), old, temp.get());
    }
    if (const int error = writeAll(temp.get(), bytes))
        return discard(error);

    if (g_beforeRename)
        g_beforeRename();
    // The last moment before the rename: a file changed since it was
    // compared (a sync tool writing during the disk sync) stays as it is.
    const FileStamp now = stampAt(target);
    if (now.exists && now != expected) {
        ::unlinkat(target.folder, tempName.constData(), 0);
        result.outcome = ReplaceResult::ChangedMeanwhile;
        return result;
    }
    if (::renameat(target.folder, tempName.constData(), target.folder, target.name.constData()) !=
        0)
        return discard(errno);
    result.outcome = ReplaceResult::Replaced;
    if (!lost.isEmpty())
        result.notice = lost.join(QStringLiteral(", "));
    // Without it the rename may not survive a power cut. Its failure is not
    // reported: the new file is already in place and complete.
    if (syncFolder)
        ::fsync(target.folder);
    return result;
}

}  // namespace Module1
