#include "store/listlocation.h"

#include "store/safefile.h"
#include "store/systemtext.h"
#include "store/taskfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>

namespace Module1 {

ListPlace userList()
{
    // As the XDG base directory rules say, and as the launcher reads them.
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!data.startsWith(QLatin1Char('/')))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return {QDir::cleanPath(data + QStringLiteral("/quillet")), QString::fromLatin1(kTaskFileName)};
}

bool holdsUserList()
{
    const ListPlace mine = userList();
    if (taskFileName() != mine.fileName)
        return false;
    const std::optional<FolderIdentity> held = folderIdentity(taskFolderAccessPath());
    const std::optional<FolderIdentity> own = folderIdentity(mine.folder);
    return held && own && held->device == own->device && held->inode == own->inode;
}

ListPlace chooseTaskList(const QString &file)
{
    if (!file.isEmpty()) {
        const QFileInfo info(file);
        // A folder names the tasks.txt in it.
        if (file.endsWith(QLatin1Char('/')) || info.isDir())
            return {QDir(file).absolutePath(), QString::fromLatin1(kTaskFileName)};
        return {info.absolutePath(), info.fileName()};
    }
    struct stat st { };
    if (::lstat(kTaskFileName, &st) == 0)
        return {QString(), QString::fromLatin1(kTaskFileName)};
    return userList();
}

bool prepareListFolder(const ListPlace &place, QString *why)
{
    if (place.folder.isEmpty() || place.folder != userList().folder ||
        QFileInfo(place.folder).isDir())
        return true;
    const QString parent = QFileInfo(place.folder).absolutePath();
    if (!QDir().mkpath(parent) ||
        (::mkdir(QFile::encodeName(place.folder).constData(), 0700) != 0 && errno != EEXIST)) {
        *why =
            QStringLiteral("cannot make the folder %1: %2").arg(place.folder, systemError(errno));
        return false;
    }
    return true;
}

}  // namespace Module1
