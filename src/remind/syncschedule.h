#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

namespace remind {

// While the reminder runs, the list is synced with its calendar (when
// --sync-setup gave it one): a few seconds after each change of the list,
// every 15 minutes, and when the network comes back. Each sync is a run of
// quillet-sync, so the reminder maps no network or calendar library of
// its own beyond Qt's.
class SyncSchedule : public QObject {
    Q_OBJECT
public:
    SyncSchedule(const QString &program, const QString &taskFile, QObject *parent = nullptr);
    // The list changed: a sync soon, after the writes have settled.
    void listChanged();
    void start();

private:
    bool configured() const;
    void runNow();

    QString m_program, m_taskFile;
    QTimer m_soon, m_every;
    QProcess *m_running = nullptr;
    bool m_again = false;
    QString m_lastFailure;
};

}  // namespace remind
