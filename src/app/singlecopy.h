#pragma once

#include "store/safefile.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include <sys/types.h>
#include <unistd.h>

class QSocketNotifier;

// One running copy per task file: two copies would each hold the tables,
// and the later save would drop the other's changes. The copy that holds
// the folder's lock listens for later starts, which hand over to it and
// end. Lock and socket lie in a folder of this user's alone, and each side
// believes only a peer of the same user.
class SingleCopy : public QObject {
    Q_OBJECT
public:
    // trustedPeer: the user whose copies may ask and answer; tests pass
    // another to play a stranger.
    explicit SingleCopy(const QString &taskFile, uid_t trustedPeer = ::geteuid());
    ~SingleCopy() override;

    enum class Claim {
        Ours,         // this copy holds the file
        HandedOver,   // another copy runs on it and took the request to show its list
        NoAnswer,     // another copy holds the lock, but no copy of ours took the request
        Unreachable,  // another copy holds the lock and listens nowhere we can reach
    };
    Claim claim();

    // Before claim(): a copy that runs already is asked to show the list
    // with this task (a key of store/taskidentity.h) selected, not the list alone.
    void askToShowTask(const QByteArray &task);
    // Once ours: what a later start asks for.
    void onShowAll(std::function<void()> showAll);
    void onShowTask(std::function<void(const QByteArray &task)> showTask);
    // Once ours: why later starts cannot reach this copy; empty while it
    // listens.
    QString listenError() const { return m_listenError; }
    // Once refused: the process that holds the file, 0 when unknown.
    qint64 holder() const;

private:
    enum class Lock { Taken, Held, Unavailable };
    Lock takeLock();
    void listen();
    Claim askRunningCopy();
    bool trusts(int socket) const;
    void acceptPeers();
    void readPeer(int peer);
    void dropPeer(int peer);
    // Does what a request line asks; false for one that is not a request.
    bool answer(const QByteArray &request);
    void findMeetingPlace();

    QString m_taskFile;
    uid_t m_trustedPeer;
    int m_folder = -1;     // where the copies meet, held open
    QString m_folderName;  // the same, for messages
    QByteArray m_socketName;
    QString m_socketPath;  // the socket's name, through m_folder
    int m_lock = -1;       // the lock file beside the socket
    QString m_meetingError;
    QString m_listenError;
    // A plain Unix socket: the windows need nothing else of a network library.
    int m_server = -1;
    QSocketNotifier *m_serverNotifier = nullptr;
    struct Peer {
        QSocketNotifier *notifier = nullptr;
        QByteArray received;
    };
    std::map<int, Peer> m_peers;
    std::function<void()> m_showAll;
    std::function<void(const QByteArray &)> m_showTask;
    QByteArray m_task;  // what this start asks a running copy to select
};
