#include "store/folderwatch.h"

#include "store/systemtext.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>

#include <sys/inotify.h>
#include <unistd.h>

namespace Module1 {

namespace {

constexpr int kSettleMs = 150;
constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                   IN_ONLYDIR;

}  // namespace

FolderWatch::FolderWatch(const QString &folder, const QString &fileName, QObject *parent)
    : QObject(parent), m_folder(folder), m_fileName(fileName)
{
    m_settle.setParent(this);
    m_settle.setObjectName(QStringLiteral("settle"));
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &FolderWatch::changed);

    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_error = systemError(errno);
        return;
    }
    m_folderWatch = ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), kFolderEvents);
    if (m_folderWatch < 0) {
        m_error = systemError(errno);
        return;
    }
    m_watched.push_back({m_folderWatch, QFile::encodeName(fileName)});
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FolderWatch::readable);
    followLink();
}

FolderWatch::~FolderWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void FolderWatch::followLink()
{
    if (m_folderWatch < 0)
        return;
    // Forget the last target, then watch the present one.
    m_watched.resize(1);
    if (m_linkWatch >= 0 && m_linkWatch != m_folderWatch)
        ::inotify_rm_watch(m_fd, m_linkWatch);
    m_linkWatch = -1;

    const QFileInfo file(m_folder + QLatin1Char('/') + m_fileName);
    if (!file.isSymLink())
        return;
    const QFileInfo target(file.canonicalFilePath());
    if (target.filePath().isEmpty())
        return;  // a dangling link: its own name's events still count
    // The same folder under another name gives the same watch back (with the
    // same events, so that it still tells when the folder goes).
    m_linkWatch = ::inotify_add_watch(m_fd, QFile::encodeName(target.absolutePath()).constData(),
                                      kFolderEvents);
    if (m_linkWatch >= 0)
        m_watched.push_back({m_linkWatch, QFile::encodeName(target.fileName())});
}

void FolderWatch::readable()
{
    alignas(inotify_event) char buffer[4096];
    bool relevant = false;
    bool gone = false;
    bool moved = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                relevant = true;  // events were lost: read it again anyway
                continue;
            }
            if (event->wd == m_folderWatch && (event->mask & (IN_DELETE_SELF | IN_IGNORED))) {
                gone = true;
                continue;
            }
            if (event->wd == m_folderWatch && (event->mask & IN_MOVE_SELF)) {
                moved = true;
                continue;
            }
            if (event->wd == m_linkWatch && (event->mask & IN_IGNORED) &&
                m_linkWatch != m_folderWatch) {
                m_linkWatch = -1;  // the target's folder went away
                m_watched.resize(1);
                relevant = true;
                continue;
            }
            const QByteArray name(event->len ? event->name : "");
            relevant =
                relevant || std::any_of(m_watched.begin(), m_watched.end(), [&](const Watched &w) {
                    return w.wd == event->wd && w.name == name;
                });
        }
    }
    if (gone) {
        m_settle.stop();
        emit folderGone();
        return;
    }
    if (moved)
        emit folderMoved();
    // Not restarted by later events: a file written on and on is still
    // read within the settle time.
    if (relevant && !m_settle.isActive())
        m_settle.start();
}

}  // namespace Module1
