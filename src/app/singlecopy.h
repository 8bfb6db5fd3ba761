#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

// One running copy per task file: two copies would each hold the tables,
// and the later save would drop the other's changes. The copy that holds
// the lock beside the file listens for later starts, which hand over to it
// and end.
class SingleCopy : public QObject {
    Q_OBJECT
public:
    explicit SingleCopy(const QString &taskFile);
    ~SingleCopy() override;

    enum class Claim {
        Ours,        // this copy holds the file
        HandedOver,  // another copy runs on it and was asked to show its list
        Unsure,      // another copy holds the lock but did not answer
    };
    Claim claim();

    // Once ours: what a later start asks for.
    void onShowAll(std::function<void()> showAll);

private:
    void listen();
    bool askRunningCopy() const;

    QString m_serverName;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_showAll;
};
