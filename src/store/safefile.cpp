#include "store/safefile.h"

#include "store/testhooks.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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
std::function<void(const QByteArray &)> g_newFile;
std::function<int(int)> g_sync;

int syncFile(int fd) { return g_sync ? g_sync(fd) : ::fsync(fd); }

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

// 0 when the file took every byte, else the errno of the failure.
int writeBytes(int fd, QByteArrayView bytes)
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
    return 0;
}

// A file system that cannot sync at all (EINVAL) has still taken the bytes.
int syncChecked(int fd) { return syncFile(fd) != 0 && errno != EINVAL ? errno : 0; }

// 0 when every byte reached the disk, else the errno of the failure.
int writeAll(int fd, QByteArrayView bytes)
{
    if (const int error = writeBytes(fd, bytes))
        return error;
    return syncChecked(fd);
}

// Some file systems (NFS) report a failed write only at the close.
int closeChecked(UniqueFd &fd)
{
    if (::close(fd.release()) != 0 && errno != EINTR)
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

// Whether a new name can be made and renamed in the folder: not when it is
// read-only for this user, nor when it is append-only or immutable, where
// a file made there could never be renamed nor removed again.
bool takesNewNames(int folder)
{
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    int flags = 0;
    if (::ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 &&
        (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0)
        return false;
    return true;
}

enum class Metadata {
    Kept,     // the old file's, or reported as lost (al.html)
    Exactly,  // the old file's, else the new file is not used
};

struct Attempt {
    ReplaceResult result;
    bool inPlaceInstead = false;  // the new file could not be the old one's twin
};

// The atomic replace: a new file beside the target, every byte written,
// synced and closed, checked once more, renamed over it, the folder synced.
Attempt replaceBeside(const FolderFile &target, QByteArrayView bytes,
                      const std::optional<FileStamp> &expected, bool syncFolder, Metadata metadata,
                      mode_t newFileMode = 0666)
{
    Attempt a;
    auto fail = [&](int error) {
        a.result.outcome = ReplaceResult::Failed;
        a.result.why = systemError(error);
        return a;
    };

    struct stat old { };
    const bool hadOld =
        ::fstatat(target.folder, target.name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(old.st_mode);
    // Until it takes the old file's mode, the new file is the owner's
    // alone; a first file gets the umask's mode and the folder's default ACL.
    QByteArray tempName;
    UniqueFd temp = createBeside(target, hadOld ? 0600 : newFileMode, &tempName);
    if (!temp.valid()) {
        a.inPlaceInstead = metadata == Metadata::Exactly && hadOld &&
                           (errno == EACCES || errno == EPERM);
        return fail(errno);
    }
    if (g_newFile)
        g_newFile(tempName);
    auto discard = [&](int error) {
        ::unlinkat(target.folder, tempName.constData(), 0);
        return fail(error);
    };

    QStringList lost;
    if (hadOld) {
        const UniqueFd oldFd(::openat(target.folder, target.name.constData(),
                                      O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
        lost = keepMetadata(oldFd.get(), old, temp.get());
        if (!lost.isEmpty() && metadata == Metadata::Exactly) {
            a.inPlaceInstead = true;
            return discard(EPERM);
        }
    }
    if (const int error = writeAll(temp.get(), bytes))
        return discard(error);
    if (const int error = closeChecked(temp))
        return discard(error);

    if (g_beforeRename)
        g_beforeRename();
    // The last moment before the rename: a file changed since it was
    // compared (a sync tool writing during the disk sync) stays as it is.
    const FileStamp now = expected ? stampAt(target) : FileStamp();
    if (now.exists && now != *expected) {
        ::unlinkat(target.folder, tempName.constData(), 0);
        a.result.outcome = ReplaceResult::ChangedMeanwhile;
        return a;
    }
    if (::renameat(target.folder, tempName.constData(), target.folder, target.name.constData()) !=
        0) {
        // A file bind-mounted there cannot be renamed over.
        a.inPlaceInstead = metadata == Metadata::Exactly && (errno == EBUSY || errno == EXDEV);
        return discard(errno);
    }
    a.result.outcome = ReplaceResult::Replaced;
    if (!lost.isEmpty())
        a.result.notice = lost.join(QStringLiteral(", "));
    // Without it the rename may not survive a power cut. Its failure is not
    // reported: the new file is already in place and complete.
    if (syncFolder)
        ::fsync(target.folder);
    return a;
}

// Writes `bytes` over an open file's content from its start and cuts it to
// their length; 0 or the errno of the failure. Room is taken first, so a
// full disk fails before a byte of the old content has changed.
int rewrite(int fd, QByteArrayView bytes, off_t oldSize)
{
    if (bytes.size() > oldSize && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return errno;
    if (const int error = writeBytes(fd, bytes))
        return error;
    if (::ftruncate(fd, off_t(bytes.size())) != 0)
        return errno;
    return syncChecked(fd);
}

// The file stays the file it is (owner, group, mode, ACL, links, mount):
// only its content changes. What fails half-way is put back from `old`.
ReplaceResult rewriteInPlace(const FolderFile &target, QByteArrayView bytes, const ReadResult &old)
{
    ReplaceResult r;
    UniqueFd fd(::openat(target.folder, target.name.constData(),
                         O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st { };
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        r.why = systemError(errno);
        return r;
    }
    if (g_beforeRename)
        g_beforeRename();
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        r.why = systemError(S_ISREG(st.st_mode) ? errno : EINVAL);
        return r;
    }
    // The last check: the same file still at its name, as it was read.
    if (stampOf(st) != old.stamp || stampAt(target) != old.stamp) {
        r.outcome = ReplaceResult::ChangedMeanwhile;
        return r;
    }
    int error = rewrite(fd.get(), bytes, st.st_size);
    if (error == 0)
        error = closeChecked(fd);
    if (error == 0) {
        r.outcome = ReplaceResult::Replaced;
        return r;
    }
    r.why = systemError(error);
    if (!fd.valid() || rewrite(fd.get(), old.bytes, off_t(bytes.size())) != 0)
        r.why += QStringLiteral("; its previous content is in %1~").arg(target.shown);
    return r;
}

}  // namespace

void setBeforeRenameHook(std::function<void()> hook) { g_beforeRename = std::move(hook); }
void setNewFileHook(std::function<void(const QByteArray &)> hook) { g_newFile = std::move(hook); }
void setSyncHook(std::function<int(int)> hook) { g_sync = std::move(hook); }

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

ReadResult readRegularFile(const FolderFile &file, qint64 largest)
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
    if (largest >= 0 && st.st_size > largest) {
        r.outcome = ReadResult::TooLarge;
        return r;
    }
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
        if (largest >= 0 && have > largest) {
            r.outcome = ReadResult::TooLarge;  // grew while read
            break;
        }
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

ReplaceResult replaceFile(const FolderFile &target, QByteArrayView bytes,
                          const std::optional<FileStamp> &expected, bool syncFolder,
                          mode_t newFileMode)
{
    return replaceBeside(target, bytes, expected, syncFolder, Metadata::Kept, newFileMode).result;
}

ReplaceResult saveKeepingFile(const FolderFile &target, QByteArrayView bytes, const ReadResult &old,
                              bool syncFolder)
{
    const auto failed = [](const QString &why) {
        ReplaceResult r;
        r.why = why;
        return r;
    };
    struct stat st { };
    if (::fstatat(target.folder, target.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return failed(systemError(errno));
        // A new file: nothing to keep.
        return replaceBeside(target, bytes, old.stamp, syncFolder, Metadata::Exactly).result;
    }
    if (!S_ISREG(st.st_mode))
        return failed(QStringLiteral("it is not a regular file"));
    // As an editor refuses it: the permissions (and ACL) say no.
    if (::faccessat(target.folder, target.name.constData(), W_OK, AT_EACCESS) != 0) {
        return failed(errno == EACCES
                          ? QStringLiteral("you may not write to it (%1)").arg(systemError(errno))
                          : systemError(errno));
    }
    const bool inPlace = st.st_nlink > 1 ||                              // its other names
                         (st.st_uid != ::geteuid() && ::geteuid() != 0) ||  // it would be ours
                         !takesNewNames(target.folder);
    if (!inPlace) {
        const Attempt a = replaceBeside(target, bytes, old.stamp, syncFolder, Metadata::Exactly);
        if (!a.inPlaceInstead)
            return a.result;
    }
    return rewriteInPlace(target, bytes, old);
}

BackupResult keepBackup(const FolderFile &target, QByteArrayView bytes)
{
    BackupResult b;
    const FolderFile backup{target.folder, target.name + '~', target.shown + u'~'};
    auto fail = [&](int error) {
        b.why = QStringLiteral("its backup %1 could not be written (%2)")
                    .arg(backup.shown, systemError(error));
        return b;
    };
    const UniqueFd file(::openat(target.folder, target.name.constData(),
                                 O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
    struct stat st { };
    if (!file.valid() || ::fstat(file.get(), &st) != 0)
        return fail(errno);

    if (takesNewNames(target.folder)) {
        // Whatever stands at the backup's name (a link, another user's
        // file) is replaced, never written through.
        QByteArray tempName;
        UniqueFd temp = createBeside(backup, 0600, &tempName);
        if (!temp.valid())
            return fail(errno);
        auto discard = [&](int error) {
            ::unlinkat(target.folder, tempName.constData(), 0);
            return fail(error);
        };
        // Never more open than the file: what of its owner, group or ACL
        // cannot be kept leaves the backup to its owner alone.
        if (!keepMetadata(file.get(), st, temp.get()).isEmpty()) {
            ::fremovexattr(temp.get(), "system.posix_acl_access");
            if (::fchmod(temp.get(), st.st_mode & 0700) != 0)
                return discard(errno);
        }
        if (const int error = writeAll(temp.get(), bytes))
            return discard(error);
        if (const int error = closeChecked(temp))
            return discard(error);
        if (::renameat(target.folder, tempName.constData(), target.folder, backup.name.constData()) !=
            0)
            return discard(errno);
        ::fsync(target.folder);
        b.kept = true;
        return b;
    }

    // A folder that takes no new names: a backup of this user's that is
    // there already is rewritten; an append-only folder still takes one.
    UniqueFd fd(::openat(target.folder, backup.name.constData(),
                         O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid() && errno == ENOENT)
        fd = UniqueFd(::openat(target.folder, backup.name.constData(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat at { };
    if (!fd.valid() || ::fstat(fd.get(), &at) != 0 || !S_ISREG(at.st_mode) ||
        at.st_uid != ::geteuid()) {
        b.folderTakesNoNewFiles = true;
        return fail(fd.valid() ? EPERM : errno);
    }
    if (::fchmod(fd.get(), st.st_mode & (st.st_uid == at.st_uid ? 0777 : 0700)) != 0)
        return fail(errno);
    if (const int error = rewrite(fd.get(), bytes, at.st_size))
        return fail(error);
    if (const int error = closeChecked(fd))
        return fail(error);
    b.kept = true;
    return b;
}

}  // namespace Module1
