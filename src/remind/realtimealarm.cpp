#include "remind/realtimealarm.h"

#include "store/systemtext.h"

#include <QSocketNotifier>

#include <cerrno>

#include <sys/timerfd.h>
#include <unistd.h>

namespace remind {

namespace {

// Far enough never to come (year 2255), still inside the kernel's range.
constexpr time_t kNever = 9'000'000'000;

}  // namespace

RealtimeAlarm::RealtimeAlarm(QObject *parent) : QObject(parent)
{
    m_fd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0) {
        m_error = Module1::systemError(errno);
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &RealtimeAlarm::readable);
}

RealtimeAlarm::~RealtimeAlarm()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void RealtimeAlarm::setAt(std::optional<QDateTime> at)
{
    if (m_fd < 0)
        return;
    itimerspec timer{};
    if (at) {
        const qint64 ms = at->toMSecsSinceEpoch();
        timer.it_value.tv_sec = time_t(ms / 1000);
        timer.it_value.tv_nsec = long(ms % 1000) * 1'000'000;
        // A moment before 1970 is long past: ring at once.
        if (ms <= 0) {
            timer.it_value.tv_sec = 0;
            timer.it_value.tv_nsec = 1;
        }
    } else {
        timer.it_value.tv_sec = kNever;
    }
    // Armed, even for "never": a clock change only cancels an armed timer.
    if (::timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &timer, nullptr) != 0)
        m_error = Module1::systemError(errno);
}

void RealtimeAlarm::readable()
{
    quint64 expirations = 0;
    const ssize_t n = ::read(m_fd, &expirations, sizeof expirations);
    // ECANCELED: the clock was set or the machine resumed; the owner sets
    // the alarm again from the new time.
    if (n == sizeof expirations || (n < 0 && errno == ECANCELED))
        emit rang();
}

}  // namespace remind
