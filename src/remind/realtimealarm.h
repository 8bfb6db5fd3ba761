#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <optional>

class QSocketNotifier;

namespace remind {

// One wake-up at a wall-clock moment, from a CLOCK_REALTIME timer file: it
// rings at that moment (at once on waking, when the machine slept through
// it) and also whenever the clock is set or the machine resumes, so that
// nothing needs to tick in between.
class RealtimeAlarm : public QObject {
    Q_OBJECT
public:
    explicit RealtimeAlarm(QObject *parent = nullptr);
    ~RealtimeAlarm() override;

    bool isValid() const { return m_fd >= 0; }
    QString errorString() const { return m_error; }

    // None: ring only when the clock is set or the machine resumes.
    void setAt(std::optional<QDateTime> at);

signals:
    void rang();

private:
    void readable();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QString m_error;
};

}  // namespace remind
