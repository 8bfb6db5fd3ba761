#pragma once

#include "store/systemtext.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

#include <sys/types.h>

namespace Module1 {

// An open descriptor, closed with its owner.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) { }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) { }
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();

private:
    int m_fd = -1;
};

// A file named inside a folder that is held open. A folder renamed
// meanwhile is still the same folder; one removed is never replaced by
// whatever later takes its name; a name that is not valid text still works.
struct FolderFile {
    int folder = -1;  // not owned
    QByteArray name;  // a name in that folder, not a path
    QString shown;    // the full path, for messages only
};

// What the file was when it was read: a save compares it again right
// before its rename, so a change made during the save is not overwritten.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modified = 0;  // ns
    qint64 changed = 0;   // ns
    bool operator==(const FileStamp &) const = default;
};

struct ReadResult {
    enum Outcome { Read, Missing, Failed, TooLarge } outcome = Failed;
    QByteArray bytes;
    QString why;
    FileStamp stamp;
};

// Reads a regular file whole. Opened without blocking and checked before
// reading: a pipe would block forever, and a device such as /dev/zero never
// ends.
// A file larger than `largest` is not read at all (TooLarge).
ReadResult readRegularFile(const FolderFile &file, qint64 largest = -1);
ReadResult readRegularFile(const QString &path, qint64 largest = -1);
// Reads an open descriptor to its end (standard input: a file, a pipe, a
// terminal), no more than `largest` bytes: a stream that goes on is
// TooLarge. A folder is refused. The descriptor stays open.
ReadResult readStream(int fd, qint64 largest);

// The file a save replaces: `file` itself, or where a link there leads.
// A link is followed only when it belongs to this user or to root: in a
// folder others may write to, a link planted by another user must not
// turn one of this user's private files into a task file.
struct WriteTarget {
    UniqueFd folder;  // the target's folder
    FolderFile file;  // the target, named in that folder
    QString refused;  // why the file may not be written; empty when it may
};
WriteTarget resolveForWriting(const FolderFile &file);

struct ReplaceResult {
    enum Outcome { Replaced, Failed, ChangedMeanwhile } outcome = Failed;
    QString why;     // the reason, when Failed
    QString notice;  // when written: what of the old file could not be kept
};

// Replaces whatever stands at `target` with a new file holding `bytes`,
// atomically: written beside it, every byte checked and synced, closed,
// then renamed over it, so a crash or a full disk leaves the old one whole.
// A link there is replaced as a link, never written through. A new file
// takes `newFileMode` (less the umask), a replaced one the old one's
// owner, mode and attributes. Nothing is renamed when the file is no
// longer what `expected` says, if given.
ReplaceResult replaceFile(const FolderFile &target, QByteArrayView bytes,
                          const std::optional<FileStamp> &expected, bool syncFolder,
                          mode_t newFileMode = 0666);

// Saves `bytes` as the content of the regular file at `target` and changes
// nothing else about it: who may read or write it (owner, group, mode, ACL,
// user.* attributes) and which file it is (its hard links, a bind mount).
// A file this user may not write is refused, as an editor refuses it. The
// save is an atomic replace where the new file can be made exactly like
// the old one; otherwise (another user's file, a hard link, a folder that
// takes no new names, an ACL that cannot be set) the old file is rewritten
// in place, and put back from `old` when that fails half-way. `old` is what
// the file held when it was last compared (its bytes and stamp).
ReplaceResult saveKeepingFile(const FolderFile &target, QByteArrayView bytes, const ReadResult &old,
                              bool syncFolder);

// Why this user may not write the file (its permissions or ACL say no, as
// access(2) tells), or empty: checked before anything of a save is written.
QString writeRefusal(const FolderFile &target);

// A file of Quillet's own: the UID file, the put-offs, the window's
// settings, an export. Written with the task file's guarantees: a link is
// followed only when it belongs to this user or to root; whatever is not a
// regular file is never replaced nor opened (no hang on a FIFO); the new
// file is written beside the old one, every write, sync and close checked,
// and renamed over it, so any failure (a full disk) keeps the old file.
struct OwnFileWrite {
    enum Outcome {
        Written,
        Failed,
        FolderReadOnly,  // the folder takes no new files for this user
    } outcome = Failed;
    QString why;  // for the user, naming the file
    // An export's PATH that is a pipe or a character device is written to
    // as "> PATH" would, never replaced; anything else is refused.
    enum Streams { StreamsRefused, StreamsWrittenTo };
    bool ok() const { return outcome == Written; }
};
OwnFileWrite writeOwnFile(const QString &path, QByteArrayView bytes,
                          OwnFileWrite::Streams streams = OwnFileWrite::StreamsRefused,
                          mode_t newFileMode = 0666);

// Keeps `bytes`, the file's content before a save, as "<name>~" beside
// it, with the file's owner, group, mode and ACL where they can be kept
// and never more open than the file; synced before it returns.
struct BackupResult {
    bool kept = false;
    bool folderTakesNoNewFiles = false;  // read-only or append-only, no backup there yet
    QString why;                         // when not kept
};
BackupResult keepBackup(const FolderFile &target, QByteArrayView bytes);

// Which folder this is, as the disk knows it: every spelling of one folder
// (a link, a bind mount, /proc/self/fd/N) gives the same identity.
struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};
std::optional<FolderIdentity> folderIdentity(const QString &folder);

// True when the folder was removed (renamed away still counts as there).
bool folderRemoved(int folder);

}  // namespace Module1
