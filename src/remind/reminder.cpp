#include "remind/reminder.h"

#include "remind/duemoment.h"
#include "store/rules.h"
#include "store/safefile.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "store/taskidentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace remind {

using namespace Module1;

namespace {

// More notified for the moments of one minute become one "N more tasks
// due": a desktop buried under a thousand bubbles helps no one.
constexpr int kFewPerMinute = 3;
constexpr qint64 kMinuteMs = 60'000;

QDateTime startOfNextDay(qint64 ms)
{
    return QDateTime(QDateTime::fromMSecsSinceEpoch(ms).date().addDays(1), QTime(0, 0));
}

}  // namespace

Reminder::Reminder(Hooks hooks, QString taskFile, QString stateFile)
    : m_hooks(std::move(hooks)), m_taskFile(std::move(taskFile)), m_stateFile(std::move(stateFile))
{ }

void Reminder::start()
{
    readPutOff();
    const qint64 now = m_hooks.now().toMSecsSinceEpoch();
    m_checkedUpTo = now;
    load();
    // What was put off to a moment that passed while no reminder ran comes
    // now; the tasks' own moments before the start are the start-up page's.
    std::vector<Event> events;
    addPutOff(std::numeric_limits<qint64>::min(), now, &events);
    notifyAll(&events, now);
    schedule();
}

void Reminder::fileChanged()
{
    notifyDue();
    load();
    schedule();
}

void Reminder::wake()
{
    notifyDue();
    schedule();
}

void Reminder::putOff(const QByteArray &task, const QDateTime &until)
{
    std::erase_if(m_putOff, [&](const PutOff &p) { return p.task == task; });
    m_putOff.push_back({until.toMSecsSinceEpoch(), task});
    writePutOff();
    schedule();
}

void Reminder::snooze(const QByteArray &task)
{
    putOff(task, m_hooks.now().addSecs(kSnoozeMinutes * 60));
}

void Reminder::putOffUntilTomorrow(const QByteArray &task)
{
    putOff(task, m_hooks.now().addDays(1));
}

void Reminder::load()
{
    const FileStatus status = m_taskFile.isEmpty() ? loadTasks() : loadTasks(m_taskFile);
    // A missing file is an empty list (a first run, or a sync tool between
    // removing and writing it). Anything else keeps the tables as they were
    // and is said once, not at every change of a file that stays broken.
    if (status.ok() || status.code == FileStatus::Missing) {
        m_lastError.clear();
    } else if (status.error != m_lastError) {
        m_lastError = status.error;
        m_hooks.warn(status.error);
    }

    const TaskKeyIndex index;
    const std::vector<QByteArray> &keys = index.keys();
    // A put-off kept by a Quillet from before names its task by the key it gave then.
    for (PutOff &p : m_putOff) {
        if (const int slot = index.slotOf(p.task); slot >= 0)
            p.task = keys[size_t(slot)];
    }
    m_due.clear();
    for (int i = 0; i < taskCount; ++i) {
        const Task &task = tasks[size_t(i)];
        // The store's one due moment, as the export gives it to calendars.
        const QDateTime moment = Module1::dueMoment(task);
        m_due.push_back(
            {moment.toMSecsSinceEpoch(), moment.isValid() && !isDeleted(task), i, keys[size_t(i)]});
    }
    // Only tasks still in the file need remembering.
    std::set<QByteArray> present;
    for (const Due &due : m_due)
        present.insert(due.key);
    std::erase_if(m_notified, [&](const Notified &n) { return !present.count(std::get<0>(n)); });
}

std::vector<const Reminder::Due *> Reminder::listedFrom(qint64 beforeMs, qint64 atMs) const
{
    const auto dayOf = [](qint64 ms) {
        return dayOfDate(QDateTime::fromMSecsSinceEpoch(ms).date());
    };
    const Days before = dayOf(beforeMs);
    const Days at = dayOf(atMs);
    std::vector<const Due *> out;
    if (at <= before)
        return out;
    for (const Due &d : m_due) {
        const Task &task = tasks[size_t(d.slot)];
        if (d.current && matchRules(task, at).announce && !matchRules(task, before).announce)
            out.push_back(&d);
    }
    return out;
}

bool Reminder::mayBeListedLater() const
{
    const bool popup = std::any_of(alertRules.begin(), alertRules.begin() + alertRuleCount,
                                   [](const AlertRule &r) { return r.popup; });
    if (!popup)
        return false;
    const Days today = dayOfDate(QDateTime::fromMSecsSinceEpoch(m_checkedUpTo).date());
    return std::any_of(m_due.begin(), m_due.end(), [&](const Due &d) {
        return d.current && !matchRules(tasks[size_t(d.slot)], today).announce;
    });
}

void Reminder::notifyDue()
{
    const qint64 now = m_hooks.now().toMSecsSinceEpoch();
    if (now > m_checkedUpTo) {
        std::vector<Event> events;
        for (const Due &d : m_due) {
            if (d.current && d.moment > m_checkedUpTo && d.moment <= now)
                events.push_back({d.moment, Kind::Due, &d});
        }
        const qint64 today =
            QDateTime(QDateTime::fromMSecsSinceEpoch(now).date(), QTime(0, 0)).toMSecsSinceEpoch();
        for (const Due *d : listedFrom(m_checkedUpTo, now)) {
            // Listed and due in one stretch (a long sleep): the due one says it.
            if (!(d->moment > m_checkedUpTo && d->moment <= now))
                events.push_back({today, Kind::Listed, d});
        }
        addPutOff(m_checkedUpTo, now, &events);
        notifyAll(&events, now);
    }
    // Set back, the clock brings moments again: those already notified are
    // remembered, the others come when their moment does.
    m_checkedUpTo = now;
}

void Reminder::addPutOff(qint64 after, qint64 upTo, std::vector<Event> *events) const
{
    for (const PutOff &p : m_putOff) {
        if (p.until <= after || p.until > upTo)
            continue;
        // Gone from the list, recycled or edited since: nothing to bring back.
        const auto it =
            std::find_if(m_due.begin(), m_due.end(), [&](const Due &d) { return d.key == p.task; });
        if (it != m_due.end() && it->current)
            events->push_back({p.until, Kind::Again, &*it});
    }
}

void Reminder::notifyAll(std::vector<Event> *events, qint64 now)
{
    // After a suspend several may be due at once: in due order.
    std::stable_sort(events->begin(), events->end(),
                     [](const Event &a, const Event &b) { return a.moment < b.moment; });
    for (const Event &e : *events)
        notify(e, now);
    // One count for the rest, which the next batch of the minute updates.
    if (std::exchange(m_moreToSay, false)) {
        const int more = m_floodCount - kFewPerMinute;
        m_hooks.notify({more == 1 ? QStringLiteral("1 more task due")
                                  : QStringLiteral("%1 more tasks due").arg(more),
                        {},
                        false,
                        {},
                        true});
    }
    const std::size_t putOff = m_putOff.size();
    std::erase_if(m_putOff, [&](const PutOff &p) { return p.until <= now; });
    if (m_putOff.size() != putOff)
        writePutOff();
}

void Reminder::notify(const Event &event, qint64 now)
{
    if (!m_notified.insert({event.due->key, event.kind, event.moment}).second)
        return;
    const qint64 minute = event.moment / kMinuteMs;
    if (minute != m_floodMinute) {
        m_floodMinute = minute;
        m_floodCount = 0;
    }
    ++m_floodCount;
    if (m_floodCount > kFewPerMinute) {
        m_moreToSay = true;
        return;
    }
    const Task &task = tasks[size_t(event.due->slot)];
    m_hooks.notify({task.title, reminderBody(task), event.due->moment + kLateMs <= now,
                    event.due->key, false});
}

void Reminder::schedule()
{
    std::optional<qint64> next;
    const auto consider = [&](qint64 moment) {
        if (moment > m_checkedUpTo && (!next || moment < *next))
            next = moment;
    };
    for (const Due &d : m_due) {
        if (d.current && !m_notified.count({d.key, Kind::Due, d.moment}))
            consider(d.moment);
    }
    for (const PutOff &p : m_putOff)
        consider(p.until);
    // Woken at midnight while a popup rule may bring a task onto the page
    // on some day ahead: the rules are walked for each day as it comes.
    if (mayBeListedLater())
        consider(startOfNextDay(m_checkedUpTo).toMSecsSinceEpoch());
    m_next.reset();
    if (next)
        m_next = QDateTime::fromMSecsSinceEpoch(*next);
    m_hooks.wakeAt(m_next);
}

// One line per task put off: "<moment in ms since the epoch> <task key>".
// No put-off file is larger: one line for each task a list can hold.
constexpr qint64 kLargestPutOffFile = qint64(kTaskSlots) * 128;

void Reminder::readPutOff()
{
    m_putOff.clear();
    if (m_stateFile.isEmpty())
        return;
    // Only a regular file: a pipe there must not hold the reminder.
    const ReadResult read = readRegularFile(m_stateFile, kLargestPutOffFile);
    if (read.outcome == ReadResult::Missing)
        return;
    if (read.outcome != ReadResult::Read) {
        m_hooks.warn(QStringLiteral("cannot read what was put off in %1: %2")
                         .arg(m_stateFile, read.outcome == ReadResult::TooLarge
                                               ? QStringLiteral("it is too large")
                                               : read.why));
        return;
    }
    for (const QByteArray &line : read.bytes.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        bool ok = false;
        const qint64 until = fields.value(0).toLongLong(&ok);
        // Only what has the form of a task key is believed.
        if (ok && fields.size() == 2 && isTaskKey(fields[1]))
            m_putOff.push_back({until, fields[1]});
    }
}

void Reminder::writePutOff()
{
    if (m_stateFile.isEmpty())
        return;
    if (m_putOff.empty()) {
        // The name goes, whatever it is; nothing is written through it.
        QFile::remove(m_stateFile);
        return;
    }
    QDir().mkpath(QFileInfo(m_stateFile).absolutePath());
    QByteArray text;
    for (const PutOff &p : m_putOff) {
        // A key with a space or a line break would make lines of its own.
        if (isTaskKey(p.task))
            text += QByteArray::number(p.until) + ' ' + p.task + '\n';
    }
    const OwnFileWrite written =
        writeOwnFile(m_stateFile, text, OwnFileWrite::StreamsRefused, 0600);
    if (!written.ok())
        m_hooks.warn(QStringLiteral("cannot keep what was put off: %1").arg(written.why));
}

}  // namespace remind
