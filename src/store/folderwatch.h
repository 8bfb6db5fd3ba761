#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

class QSocketNotifier;

namespace Module1 {

// Says when a file may have changed, through an inotify watch on its folder
// rather than on the file: an atomic save renames a new file over the old
// one, which a watch on the old file would lose. Writes in place, renames,
// removals and new files of that name all count; changes to other files of
// the folder wake the process but are not passed on. Where the file is a
// link, the folder of the file it points to is watched too.
class FolderWatch : public QObject {
    Q_OBJECT
public:
    // `folder` may be a /proc/self/fd path of a held folder.
    FolderWatch(const QString &folder, const QString &fileName, QObject *parent = nullptr);
    ~FolderWatch() override;

    bool isValid() const { return m_folderWatch >= 0; }
    QString errorString() const { return m_error; }

    // Watches the folder of the file the link points to now, if it is one;
    // called after each read, as the link may have been pointed elsewhere.
    void followLink();

signals:
    // Once the events of one change have settled (a writer's many writes
    // make one change), well within the two seconds a change may take.
    void changed();
    // The folder was removed (or its file system unmounted). Told only when
    // no process holds it open or works in it: the watch does not.
    void folderGone();
    // The folder was renamed or moved; it is still the one watched.
    void folderMoved();

private:
    struct Watched {
        int wd;
        QByteArray name;
    };

    void readable();

    int m_fd = -1;
    int m_folderWatch = -1;
    int m_linkWatch = -1;
    QString m_folder;
    QString m_fileName;
    std::vector<Watched> m_watched;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_settle;
    QString m_error;
};

}  // namespace Module1
