#include "store/safefile.h"

#include "store/filemetadata.h"
#include "store/testhooks.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
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

// Temporaries are named "." + target + kTempMark + six letters, so that
// the next writer in the folder knows those a killed save left behind.
constexpr char kTempMark[] = ".quillet-";
constexpr int kTempLetters = 6;

bool isTemporaryName(const char *name)
{
    const qsizetype length = qsizetype(std::strlen(name));
    const qsizetype mark = qsizetype(sizeof kTempMark - 1);
    if (name[0] != '.' || length < 2 + mark + kTempLetters)
        return false;
    const char *tail = name + length - kTempLetters;
    if (std::strncmp(tail - mark, kTempMark, size_t(mark)) != 0)
        return false;
    return std::all_of(tail, tail + kTempLetters,
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// A temporary's writer holds a flock on it until the rename, through a
// descriptor of its own that the checked close leaves open.
struct Temporary {
    UniqueFd fd;
    UniqueFd lock;
    QByteArray name;
    bool valid() const { return fd.valid(); }
};

// Removes the temporaries of this user that no writer holds any more (a
// save or an export that was killed). One it cannot open or lock, a link,
// another user's file, is left alone.
void removeLeftTemporaries(int folder)
{
    const int listFd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR *list = ::fdopendir(listFd);
    if (!list) {
        ::close(listFd);
        return;
    }
    while (const dirent *entry = ::readdir(list)) {
        if (!isTemporaryName(entry->d_name))
            continue;
        const UniqueFd fd(::openat(folder, entry->d_name,
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat st {
        }, named{};
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        // Still that file at that name, while it is locked.
        if (::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == st.st_dev && named.st_ino == st.st_ino)
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(list);
}

// A new name beside the target, created exclusively: nothing that stands
// in the folder is ever opened or followed.
Temporary createBeside(const FolderFile &target, mode_t mode)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    removeLeftTemporaries(target.folder);
    Temporary t;
    for (int attempt = 0; attempt < 100; ++attempt) {
        t.name = '.' + target.name + kTempMark;
        for (int i = 0; i < kTempLetters; ++i)
            t.name += letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))];
        t.fd = UniqueFd(::openat(target.folder, t.name.constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!t.fd.valid() && errno == EEXIST)
            continue;
        if (!t.fd.valid())
            return t;
        // A file system that takes no locks still takes the save; no
        // sweep can lock, so none removes it either.
        t.lock = UniqueFd(::fcntl(t.fd.get(), F_DUPFD_CLOEXEC, 0));
        if (t.lock.valid())
            ::flock(t.lock.get(), LOCK_EX);
        struct stat st { };
        if (::fstat(t.fd.get(), &st) != 0) {
            const int error = errno;
            ::unlinkat(target.folder, t.name.constData(), 0);
            errno = error;
            return {};
        }
        // Another writer's sweep may have taken it before the lock did.
        if (st.st_nlink > 0)
            return t;
    }
    errno = EEXIST;
    return {};
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
    Temporary temp = createBeside(target, hadOld ? 0600 : newFileMode);
    const QByteArray &tempName = temp.name;
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
        lost = keepMetadata(oldFd.get(), old, temp.fd.get());
        if (!lost.isEmpty() && metadata == Metadata::Exactly) {
            a.inPlaceInstead = true;
            return discard(EPERM);
        }
    }
    if (const int error = writeAll(temp.fd.get(), bytes))
        return discard(error);
    if (const int error = closeChecked(temp.fd))
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

namespace {

// Reads what `fd` gives up to its end, no more than `largest` bytes (-1:
// no bound); `sizeHint` sizes the buffer.
void readBounded(int fd, qint64 largest, qint64 sizeHint, ReadResult *r)
{
    // Read straight into the buffer, sized as the file is now; a file that
    // grows meanwhile is read to its end all the same.
    // Sized exactly: resize() would round up to the next power of two, and
    // what a load read is kept for the next save's comparison.
    qsizetype have = 0;
    r->bytes = QByteArray(qsizetype(sizeHint) + 1, Qt::Uninitialized);
    for (;;) {
        if (have == r->bytes.size())
            r->bytes.resize(r->bytes.size() * 2);
        const ssize_t got = ::read(fd, r->bytes.data() + have, size_t(r->bytes.size() - have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            r->outcome = ReadResult::Failed;
            r->why = systemError(errno);
            break;
        }
        if (got == 0) {
            r->outcome = ReadResult::Read;
            break;
        }
        have += got;
        if (largest >= 0 && have > largest) {
            r->outcome = ReadResult::TooLarge;  // grew while read, or a stream
            break;
        }
    }
    r->bytes.truncate(have);
}

// What stands there when it is not a regular file, for messages.
QString notRegularText(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder, not a file");
    return QStringLiteral("it is not a regular file (a device, a pipe or a socket)");
}

ReadResult readOpened(const UniqueFd &fd, qint64 largest)
{
    ReadResult r;
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
    if (!S_ISREG(st.st_mode)) {
        r.why = notRegularText(st.st_mode);
        return r;
    }
    r.stamp = stampOf(st);
    if (largest >= 0 && st.st_size > largest) {
        r.outcome = ReadResult::TooLarge;
        return r;
    }
    readBounded(fd.get(), largest, st.st_size, &r);
    return r;
}

// The folder part and the name of a path, as the kernel splits it.
std::pair<QByteArray, QByteArray> splitPath(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    const qsizetype slash = encoded.lastIndexOf('/');
    return {slash < 0    ? QByteArray(".")
            : slash == 0 ? QByteArray("/")
                         : encoded.left(slash),
            encoded.mid(slash + 1)};
}

// Writes to a pipe or a device as "> PATH" would: it is opened, never
// made, never replaced. A pipe with no reader is refused, not waited on.
QString writeToStream(const FolderFile &target, QByteArrayView bytes)
{
    UniqueFd fd(::openat(target.folder, target.name.constData(),
                         O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid())
        return errno == ENXIO ? QStringLiteral("it is a pipe that no program is reading from")
                              : systemError(errno);
    struct stat st { };
    if (::fstat(fd.get(), &st) != 0)
        return systemError(errno);
    if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode))
        return QStringLiteral("it changed while it was written");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return systemError(errno);
    // A reader that goes away is a failed write (EPIPE), not the end of
    // the program.
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &before);
    int error = writeBytes(fd.get(), bytes);
    if (error == 0)
        error = closeChecked(fd);
    ::sigaction(SIGPIPE, &before, nullptr);
    return error == 0 ? QString() : systemError(error);
}

}  // namespace

ReadResult readRegularFile(const FolderFile &file, qint64 largest)
{
    return readOpened(UniqueFd(::openat(file.folder, file.name.constData(),
                                        O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)),
                      largest);
}

ReadResult readRegularFile(const QString &path, qint64 largest)
{
    return readOpened(UniqueFd(::open(QFile::encodeName(path).constData(),
                                      O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)),
                      largest);
}

ReadResult readStream(int fd, qint64 largest)
{
    ReadResult r;
    struct stat st { };
    if (::fstat(fd, &st) != 0) {
        r.why = systemError(errno);
        return r;
    }
    if (S_ISDIR(st.st_mode)) {
        r.why = notRegularText(st.st_mode);
        return r;
    }
    if (S_ISREG(st.st_mode)) {
        r.stamp = stampOf(st);
        if (largest >= 0 && st.st_size > largest) {
            r.outcome = ReadResult::TooLarge;
            return r;
        }
    }
    readBounded(fd, largest, S_ISREG(st.st_mode) ? st.st_size : 64 * 1024, &r);
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

QString writeRefusal(const FolderFile &target)
{
    // As an editor refuses it: the permissions (and ACL) say no.
    if (::faccessat(target.folder, target.name.constData(), W_OK, AT_EACCESS) == 0 ||
        errno == ENOENT)
        return {};
    return errno == EACCES ? QStringLiteral("you may not write to it (%1)").arg(systemError(errno))
                           : systemError(errno);
}

// The old content of a file rewritten in place is held to put it back: no
// file of Quillet's own is larger (the largest calendar is below 400 MB).
constexpr qint64 kLargestRewrittenOwnFile = qint64(1) << 30;

OwnFileWrite writeOwnFile(const QString &path, QByteArrayView bytes, OwnFileWrite::Streams streams,
                          mode_t newFileMode)
{
    OwnFileWrite w;
    const auto refuse = [&](const QString &why, OwnFileWrite::Outcome outcome) {
        w.outcome = outcome;
        w.why = QStringLiteral("%1 could not be written: %2").arg(path, why);
        return w;
    };
    // A file size limit fails the write (EFBIG) instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    const auto [folderPart, name] = splitPath(path);
    if (name.isEmpty() || name == "." || name == "..")
        return refuse(notRegularText(S_IFDIR), OwnFileWrite::Failed);
    const UniqueFd folder(::open(folderPart.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return refuse(systemError(errno), OwnFileWrite::Failed);
    const WriteTarget target = resolveForWriting({folder.get(), name, path});
    if (!target.refused.isEmpty()) {
        w.why = target.refused;
        return w;
    }
    struct stat st { };
    if (::fstatat(target.file.folder, target.file.name.constData(), &st, AT_SYMLINK_NOFOLLOW) ==
        0) {
        if ((S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) &&
            streams == OwnFileWrite::StreamsWrittenTo) {
            const QString why = writeToStream(target.file, bytes);
            if (!why.isEmpty())
                return refuse(why, OwnFileWrite::Failed);
            w.outcome = OwnFileWrite::Written;
            return w;
        }
        if (!S_ISREG(st.st_mode))
            return refuse(notRegularText(st.st_mode), OwnFileWrite::Failed);
        // Another member's file in a folder of a group, a hard link, a
        // folder that takes no new names: its content is rewritten where
        // it may be written, as the task file's is, put back on failure.
        if ((st.st_uid != ::geteuid() && ::geteuid() != 0) || st.st_nlink > 1 ||
            !takesNewNames(target.file.folder)) {
            if (const QString refused = writeRefusal(target.file); !refused.isEmpty()) {
                return refuse(refused, takesNewNames(target.file.folder)
                                           ? OwnFileWrite::Failed
                                           : OwnFileWrite::FolderReadOnly);
            }
            const ReadResult old = readRegularFile(target.file, kLargestRewrittenOwnFile);
            if (old.outcome != ReadResult::Read) {
                return refuse(old.outcome == ReadResult::TooLarge
                                  ? QStringLiteral("it is too large to be rewritten safely")
                                  : old.why,
                              OwnFileWrite::Failed);
            }
            const ReplaceResult r = saveKeepingFile(target.file, bytes, old, true);
            if (r.outcome == ReplaceResult::ChangedMeanwhile)
                return refuse(QStringLiteral("it changed while it was written"),
                              OwnFileWrite::Failed);
            if (r.outcome != ReplaceResult::Replaced)
                return refuse(r.why, OwnFileWrite::Failed);
            w.outcome = OwnFileWrite::Written;
            return w;
        }
    } else if (errno != ENOENT) {
        return refuse(systemError(errno), OwnFileWrite::Failed);
    }
    if (!takesNewNames(target.file.folder)) {
        return refuse(QStringLiteral("its folder takes no new files (%1)").arg(systemError(EACCES)),
                      OwnFileWrite::FolderReadOnly);
    }
    const ReplaceResult r = replaceFile(target.file, bytes, std::nullopt, true, newFileMode);
    if (r.outcome != ReplaceResult::Replaced)
        return refuse(r.why, OwnFileWrite::Failed);
    w.outcome = OwnFileWrite::Written;
    return w;
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
    if (const QString refused = writeRefusal(target); !refused.isEmpty())
        return failed(refused);
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
        Temporary temp = createBeside(backup, 0600);
        const QByteArray &tempName = temp.name;
        if (!temp.valid())
            return fail(errno);
        auto discard = [&](int error) {
            ::unlinkat(target.folder, tempName.constData(), 0);
            return fail(error);
        };
        // Never more open than the file: what of its owner, group or ACL
        // cannot be kept leaves the backup to its owner alone.
        if (!keepMetadata(file.get(), st, temp.fd.get()).isEmpty()) {
            ::fremovexattr(temp.fd.get(), "system.posix_acl_access");
            if (::fchmod(temp.fd.get(), st.st_mode & 0700) != 0)
                return discard(errno);
        }
        if (const int error = writeAll(temp.fd.get(), bytes))
            return discard(error);
        if (const int error = closeChecked(temp.fd))
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
