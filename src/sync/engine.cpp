#include "sync/engine.h"

#include "app/terminalcommands.h"
#include "store/listchange.h"
#include "store/listlock.h"
#include "store/safefile.h"
#include "store/taskfile.h"
#include "store/taskids.h"
#include "sync/davclient.h"
#include "sync/merge.h"
#include "sync/state.h"
#include "sync/vtodo.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <deque>

#include <fcntl.h>
#include <unistd.h>

using namespace Module1;

namespace qsync {

namespace {

constexpr int kMultigetBatch = 100;
constexpr int kRetries = 3;

// What the server holds at one href.
struct Remote {
    QString href;
    QByteArray etag;
    QByteArray copy;
    std::optional<RemoteTodo> todo;
};

struct LocalTask {
    QString uid;
    Fields fields;
};

enum class RemoteAction { None, Update, Create, Delete };
enum class LocalAction { None, Update, Add, Remove };

struct Plan {
    QString uid;
    std::optional<Fields> base, local, remote;
    Fields result;
    LocalAction localAction = LocalAction::None;
    RemoteAction remoteAction = RemoteAction::None;
    const Remote *at = nullptr;
    bool conflict = false, merged = false;
    bool skipped = false;  // the list changed under it: left for the next sync
};

QByteArray xmlHead() { return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"; }

QString escapeXml(const QString &text) { return text.toHtmlEscaped(); }

class Sync {
public:
    Sync(const Config &config, const QString &password)
        : m_client(config.user, password), m_collection(config.collection)
    { }
    SyncReport run();

private:
    bool list();
    bool listBySync(bool *unsupported);
    bool listByPropfind();
    bool fetch(const QStringList &hrefs);
    bool fail(const Response &r)
    {
        m_report.error = describeFailure(r);
        return false;
    }
    bool planAll();
    bool applyLocal();
    bool upload(Plan &plan);
    bool saveState();
    QUrl urlOf(const QString &href) const
    {
        return m_collection.resolved(QUrl(QString::fromUtf8(QUrl::toPercentEncoding(href, "/"))));
    }
    Item itemOf(const QString &uid, const QString &href, const QByteArray &etag, const Fields &base,
                const QByteArray &copy)
    {
        return Item{uid, href, etag, base, copy};
    }
    void remember(Item item);

    DavClient m_client;
    QUrl m_collection;
    State m_state;
    SyncReport m_report;
    QString m_newToken;
    QHash<QString, Remote> m_remote;  // by href: the server's whole collection
    std::vector<Plan> m_plans;
    QStringList m_uids;
    QSet<QString>
        m_told;  // the hrefs the token's changes name            // the list's UIDs when planned
    std::deque<Remote> m_fetched;  // copies fetched again after a 412
    QDateTime m_now = QDateTime::currentDateTime();
};

void Sync::remember(Item item)
{
    if (Item *known = m_state.find(item.uid))
        *known = std::move(item);
    else
        m_state.items.push_back(std::move(item));
}

bool Sync::listBySync(bool *unsupported)
{
    *unsupported = false;
    for (int round = 0; round < 50; ++round) {
        const QByteArray body =
            xmlHead() + "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" +
            escapeXml(m_state.token).toUtf8() +
            "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop>"
            "</d:sync-collection>";
        const Response r = m_client.send("REPORT", m_collection, body, {{"Depth", "0"}});
        if ((r.status == 403 || r.status == 409) && !m_state.token.isEmpty() &&
            r.body.contains("valid-sync-token")) {
            // A token the server forgot: the whole listing again.
            m_state.token.clear();
            m_remote.clear();
            continue;
        }
        if (r.status != 207) {
            if (r.status == 0 || r.status == 401 || r.status == 403)
                return fail(r);
            *unsupported = true;
            return false;
        }
        const QString self = canonicalPath(m_collection, m_collection.path());
        const MultiStatus ms = parseMultiStatus(r.body, m_collection);
        bool truncated = false;
        for (const DavEntry &e : ms.entries) {
            if (e.href == self || e.href + QLatin1Char('/') == self) {
                truncated |= e.status == 507;
                continue;
            }
            m_told.insert(e.href);
            if (e.status == 404)
                m_remote.remove(e.href);
            else if (!e.etag.isEmpty() || e.status == 200)
                m_remote.insert(e.href, Remote{e.href, e.etag, {}, {}});
        }
        m_state.token = ms.syncToken;
        m_newToken = ms.syncToken;
        if (!truncated)
            return true;
    }
    return true;
}

bool Sync::listByPropfind()
{
    const QByteArray body = xmlHead() +
                            "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:getetag/><d:resourcetype/>"
                            "</d:prop></d:propfind>";
    const Response r = m_client.send("PROPFIND", m_collection, body, {{"Depth", "1"}});
    if (r.status != 207)
        return fail(r);
    const QString self = canonicalPath(m_collection, m_collection.path());
    m_remote.clear();
    for (const DavEntry &e : parseMultiStatus(r.body, m_collection).entries) {
        if (e.collection || e.href == self || e.href + QLatin1Char('/') == self)
            continue;
        m_remote.insert(e.href, Remote{e.href, e.etag, {}, {}});
    }
    m_newToken.clear();
    return true;
}

bool Sync::list()
{
    // The server's view starts from what the last sync saw, and the
    // token's changes are laid over it.
    if (!m_state.token.isEmpty()) {
        for (const Item &item : m_state.items) {
            if (!item.href.isEmpty())
                m_remote.insert(item.href, Remote{item.href, item.etag, item.copy, {}});
        }
    }
    bool unsupported = false;
    const bool delta = !m_state.token.isEmpty();
    if (listBySync(&unsupported)) {
        // What this program wrote after the old token and the new one does
        // not name was deleted since.
        for (Item &item : m_state.items) {
            if (delta && item.afterToken && !m_told.contains(item.href))
                m_remote.remove(item.href);
            item.afterToken = false;
        }
        return true;
    }
    if (!unsupported)
        return false;
    return listByPropfind();
}

bool Sync::fetch(const QStringList &hrefs)
{
    for (qsizetype from = 0; from < hrefs.size(); from += kMultigetBatch) {
        QByteArray body = xmlHead() +
                          "<c:calendar-multiget xmlns:d=\"DAV:\" "
                          "xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop><d:getetag/>"
                          "<c:calendar-data/></d:prop>";
        for (const QString &href : hrefs.mid(from, kMultigetBatch))
            body +=
                "<d:href>" + escapeXml(urlOf(href).path(QUrl::FullyEncoded)).toUtf8() + "</d:href>";
        body += "</c:calendar-multiget>";
        const Response r = m_client.send("REPORT", m_collection, body, {{"Depth", "1"}});
        if (r.status != 207)
            return fail(r);
        for (const DavEntry &e : parseMultiStatus(r.body, m_collection).entries) {
            auto at = m_remote.find(e.href);
            if (at == m_remote.end())
                continue;
            if (e.status == 404) {
                m_remote.erase(at);
                continue;
            }
            at->etag = e.etag.isEmpty() ? at->etag : e.etag;
            at->copy = e.calendarData;
        }
    }
    return true;
}

bool Sync::planAll()
{
    // What changed on the server since the last sync is fetched.
    QStringList changed;
    for (Remote &r : m_remote) {
        const Item *known = m_state.findHref(r.href);
        if (known && known->etag == r.etag && !r.etag.isEmpty()) {
            r.copy = known->copy;
            r.todo = RemoteTodo{known->uid, known->base};
        } else {
            changed << r.href;
        }
    }
    if (!fetch(changed))
        return false;
    QHash<QString, const Remote *> remoteByUid;
    for (Remote &r : m_remote) {
        if (!r.todo && !r.copy.isEmpty())
            r.todo = readTodo(r.copy);
        if (!r.todo || r.todo->uid.isEmpty()) {
            ++m_report.left;  // a to-do a task cannot hold stays as it is
            continue;
        }
        remoteByUid.insert(r.todo->uid, &r);
    }

    // The UIDs are read, paired and kept within one hold of the list's lock
    // with the load they are for: a window or `--add` saving in between
    // would otherwise have its task's UID written over.
    QStringList uids;
    const auto pair = [&]() -> QString {
        QString why;
        taskUids(&uids, &why);
        // A list that holds the same tasks as the calendar before it ever
        // synced (a copy, an import) takes the calendar's UIDs for them, so
        // that nothing is uploaded twice.
        bool renamed = false;
        {
            QMultiHash<QString, QString> unpaired;  // content -> remote UID
            const auto contentOf = [](const Fields &f) {
                return QStringList{f.title, f.forWhom, f.description, QString::number(f.due)}.join(
                    QChar(0));
            };
            QSet<QString> local(uids.begin(), uids.end());
            for (auto it = remoteByUid.cbegin(); it != remoteByUid.cend(); ++it) {
                if (!local.contains(it.key()) && !m_state.find(it.key()))
                    unpaired.insert(contentOf((*it)->todo->fields), it.key());
            }
            for (int i = 0; i < taskCount && i < uids.size() && !unpaired.isEmpty(); ++i) {
                if (m_state.find(uids[i]) || remoteByUid.contains(uids[i]))
                    continue;
                const QString key = contentOf(fieldsOf(tasks[size_t(i)]));
                if (const auto hit = unpaired.find(key); hit != unpaired.end()) {
                    uids[i] = hit.value();
                    unpaired.erase(hit);
                    renamed = true;
                }
            }
        }
        // A task edited by hand in title and due at once got a new UID; the
        // one UID that vanished is that task's.
        QStringList vanished, fresh;
        QSet<QString> present(uids.begin(), uids.end());
        for (const Item &item : m_state.items) {
            if (!present.contains(item.uid))
                vanished << item.uid;
        }
        for (const QString &uid : uids) {
            if (!m_state.find(uid) && !remoteByUid.contains(uid))
                fresh << uid;
        }
        if (vanished.size() == 1 && fresh.size() == 1) {
            uids[uids.indexOf(fresh[0])] = vanished[0];
            renamed = true;
        }
        if (renamed)
            rememberTaskUids(uids, &why);
        return {};
    };
    const ChangeResult read = readTaskList(pair);
    if (read.status != ChangeResult::Changed) {
        m_report.error = read.message;
        return false;
    }
    m_uids = uids;

    QHash<QString, Fields> local;
    QStringList order;
    for (int i = 0; i < taskCount && i < uids.size(); ++i) {
        local.insert(uids[i], fieldsOf(tasks[size_t(i)]));
        order << uids[i];
    }
    for (const Item &item : m_state.items)
        if (!local.contains(item.uid))
            order << item.uid;
    for (auto it = remoteByUid.cbegin(); it != remoteByUid.cend(); ++it)
        if (!local.contains(it.key()) && !m_state.find(it.key()))
            order << it.key();
    order.removeDuplicates();

    int localRemovals = 0, remoteDeletes = 0, synced = 0;
    for (const QString &uid : order) {
        Plan p;
        p.uid = uid;
        Item *item = m_state.find(uid);
        if (item)
            p.base = item->base;
        if (item && !item->href.isEmpty())
            ++synced;
        if (local.contains(uid))
            p.local = local.value(uid);
        if (const Remote *r = remoteByUid.value(uid)) {
            p.remote = r->todo->fields;
            p.at = r;
        }
        if (p.local && p.remote) {
            const Merged m = mergeFields(p.base, *p.local, *p.remote, m_now);
            p.result = m.fields;
            p.conflict = m.conflict;
            if (p.result != *p.local)
                p.localAction = LocalAction::Update;
            if (p.result != *p.remote)
                p.remoteAction = RemoteAction::Update;
            p.merged = !p.conflict && p.localAction != LocalAction::None &&
                       p.remoteAction != RemoteAction::None;
        } else if (p.local) {
            p.result = *p.local;
            const bool wasThere = item && !item->href.isEmpty();
            Fields recycledBase = p.base.value_or(Fields());
            recycledBase.recycled = true;
            if (p.base && (*p.local == *p.base || *p.local == recycledBase)) {
                // Deleted there, unchanged here: recycled, never gone.
                if (wasThere) {
                    if (!p.local->recycled) {
                        p.result.recycled = true;
                        p.localAction = LocalAction::Update;
                        ++localRemovals;
                    }
                }
            } else {
                // New here, or edited here since it went there: it goes up.
                p.remoteAction = RemoteAction::Create;
            }
        } else if (p.remote) {
            p.result = *p.remote;
            if (p.base && *p.remote == *p.base && item && item->href == p.at->href) {
                p.remoteAction = RemoteAction::Delete;  // deleted for good here
                ++remoteDeletes;
            } else {
                p.localAction = LocalAction::Add;  // new there, or edited there
            }
        }
        m_plans.push_back(std::move(p));
    }
    // A sync that would empty one side is more likely a mistake.
    const auto tooMany = [&](int removals) { return removals >= 5 && 2 * removals > synced; };
    if (tooMany(localRemovals)) {
        m_report.error = QStringLiteral(
                             "the calendar lost %1 of the %2 tasks it had at the last sync; "
                             "nothing was changed. If that is right, run quillet --sync-setup "
                             "again to start afresh")
                             .arg(localRemovals)
                             .arg(synced);
        return false;
    }
    if (tooMany(remoteDeletes)) {
        m_report.error = QStringLiteral(
                             "%1 of the %2 synced tasks are gone from %3; nothing was changed. "
                             "If that is right, run quillet --sync-setup again to start afresh")
                             .arg(remoteDeletes)
                             .arg(synced)
                             .arg(taskFilePath());
        return false;
    }
    return true;
}

bool Sync::applyLocal()
{
    bool any = false;
    for (const Plan &p : m_plans)
        any |= p.localAction != LocalAction::None;
    if (!any)
        return true;
    int full = 0;
    QStringList uids;
    const auto change = [&]() -> QString {
        full = 0;
        QString why;
        taskUids(&uids, &why);
        // The pairing made when planning holds for this load too.
        for (int i = 0; i < uids.size() && i < m_uids.size(); ++i) {
            if (!uids.contains(m_uids[i]) && !m_state.find(uids[i]))
                uids[i] = m_uids[i];
        }
        QHash<QString, int> slot;
        for (int i = 0; i < uids.size(); ++i)
            slot.insert(uids[i], i);
        for (Plan &p : m_plans) {
            p.skipped = false;
            if (p.localAction == LocalAction::None)
                continue;
            const int at = slot.value(p.uid, -1);
            if (p.localAction == LocalAction::Add) {
                if (at >= 0) {
                    p.skipped = true;
                    continue;
                }
                Task task;
                applyFields(task, p.result);
                if (!appendTask(task, p.result.recycled)) {
                    ++full;
                    p.skipped = true;
                    continue;
                }
                uids.append(p.uid);
                slot.insert(p.uid, taskCount - 1);
                continue;
            }
            // Changed by a window since it was read: the next sync takes it.
            if (at < 0 || fieldsOf(tasks[size_t(at)]) != *p.local) {
                p.skipped = true;
                continue;
            }
            applyFields(tasks[size_t(at)], p.result);
        }
        return {};
    };
    const auto afterSaved = [&]() -> QString {
        QString why;
        return rememberTaskUids(uids, &why) ? QString() : why;
    };
    const ChangeResult result = changeTaskList(change, afterSaved);
    if (result.status != ChangeResult::Changed) {
        m_report.error = result.message;
        return false;
    }
    if (!result.notices.isEmpty()) {
        m_report.error = result.notices.join(QLatin1Char('\n'));
        return false;
    }
    m_report.left += full;
    return true;
}

bool Sync::upload(Plan &p)
{
    for (int attempt = 0; attempt <= kRetries; ++attempt) {
        Item *item = m_state.find(p.uid);
        if (p.remoteAction == RemoteAction::Delete) {
            const Response r =
                m_client.send("DELETE", urlOf(p.at->href), {}, {{"If-Match", p.at->etag}});
            if (r.ok() || r.status == 404) {
                m_state.items.erase(m_state.items.begin() + (item - m_state.items.data()));
                ++m_report.sent;
                return true;
            }
            if (r.status != 412)
                return fail(r);
            // Edited there meanwhile: the edit wins, the task comes back.
            const Response got = m_client.send("GET", urlOf(p.at->href));
            if (!got.ok())
                return fail(got);
            const std::optional<RemoteTodo> todo = readTodo(got.body);
            if (!todo)
                return true;
            p.result = todo->fields;
            p.localAction = LocalAction::Add;
            p.remoteAction = RemoteAction::None;
            if (!applyLocal())
                return false;
            remember(itemOf(p.uid, p.at->href, got.header("etag"), todo->fields, got.body));
            return true;
        }
        QString href;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> condition;
        if (p.remoteAction == RemoteAction::Create) {
            const QString name =
                QString::fromLatin1(QUrl::toPercentEncoding(p.uid).replace('%', '_'));
            href = canonicalPath(
                m_collection,
                m_collection.path() +
                    (m_collection.path().endsWith(QLatin1Char('/')) ? QString()
                                                                    : QStringLiteral("/")) +
                    name + (attempt > 0 ? QStringLiteral("-%1").arg(attempt) : QString()) +
                    QStringLiteral(".ics"));
            body = newResource(p.uid, p.result, m_now);
            condition = {{"If-None-Match", "*"}};
        } else {
            href = p.at->href;
            body = patchResource(p.at->copy, *p.remote, p.result, QDateTime::currentDateTimeUtc());
            condition = {{"If-Match", p.at->etag}};
        }
        const Response r = m_client.send("PUT", urlOf(href), body, condition);
        if (r.ok()) {
            QByteArray etag = r.header("etag");
            QByteArray copy = body;
            if (etag.isEmpty()) {
                // No ETag: the server may have rewritten it; what it holds is fetched.
                const Response got = m_client.send("GET", urlOf(href));
                if (got.ok()) {
                    etag = got.header("etag");
                    copy = got.body;
                }
            }
            Item written = itemOf(p.uid, href, etag, p.result, copy);
            written.afterToken = true;
            remember(std::move(written));
            ++m_report.sent;
            return true;
        }
        if (r.status != 412 && !(r.status == 404 && p.remoteAction == RemoteAction::Update))
            return fail(r);
        if (r.status == 404) {
            p.remoteAction = RemoteAction::Create;
            continue;
        }
        // Changed on the server since it was read: fetched, merged, again.
        const Response got = m_client.send("GET", urlOf(href));
        // Refused, yet not there (a name a deleted item had): another name.
        if (got.status == 404 && p.remoteAction == RemoteAction::Create)
            continue;
        if (!got.ok())
            return fail(got);
        const std::optional<RemoteTodo> todo = readTodo(got.body);
        if (!todo)
            return true;
        m_fetched.push_back(Remote{href, got.header("etag"), got.body, todo});
        const Remote *now = &m_fetched.back();
        const std::optional<Fields> base =
            item ? std::optional<Fields>(item->base) : std::optional<Fields>();
        const Merged m = mergeFields(base, p.result, todo->fields, m_now);
        p.conflict |= m.conflict;
        const Fields before = p.result;
        p.local = before;
        p.remote = todo->fields;
        p.at = now;
        p.result = m.fields;
        if (p.result != before) {
            p.localAction = LocalAction::Update;
            const RemoteAction action = p.remoteAction;
            p.remoteAction = RemoteAction::None;
            std::vector<Plan> saved;
            saved.swap(m_plans);
            m_plans.push_back(p);
            const bool applied = applyLocal();
            p = m_plans.front();
            saved.swap(m_plans);
            if (!applied)
                return false;
            p.remoteAction = action;
        }
        p.remoteAction = RemoteAction::Update;
        if (p.result == todo->fields) {
            remember(itemOf(p.uid, href, now->etag, p.result, now->copy));
            return true;
        }
    }
    m_report.error = QStringLiteral("%1 kept changing the same task; try again later")
                         .arg(m_collection.toString(QUrl::RemoveUserInfo));
    return false;
}

bool Sync::saveState()
{
    QString why;
    if (!writeState(m_state, &why)) {
        m_report.error = why;
        return false;
    }
    return true;
}

SyncReport Sync::run()
{
    // One sync of a list at a time, beside the list's own lock.
    const UniqueFd folder(::open(QFile::encodeName(taskFolderAccessPath()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const ListLock lock(folder.get(), QFile::encodeName(taskFileName()) + ":sync", taskFilePath());
    if (!lock.held()) {
        m_report.error = QStringLiteral("another sync of %1 is running").arg(taskFilePath());
        return m_report;
    }
    QString why;
    if (!readState(m_collection.toString(), &m_state, &why)) {
        m_report.error = why;
        return m_report;
    }
    const bool ok = list() && planAll() && applyLocal();
    if (!ok) {
        m_report.requests = m_client.requests();
        return m_report;
    }
    // What is now the same on both sides is the new base.
    QSet<QString> known;
    for (Plan &p : m_plans) {
        known.insert(p.uid);
        if (p.skipped)
            continue;
        if (p.localAction == LocalAction::Add || p.localAction == LocalAction::Update) {
            if (p.merged)
                ++m_report.merged;
            else if (!p.conflict)
                ++m_report.received;
        }
        if (p.conflict)
            ++m_report.conflicts;
        if (p.remoteAction != RemoteAction::None)
            continue;
        if (p.at)
            remember(itemOf(p.uid, p.at->href, p.at->etag, p.result, p.at->copy));
        else if (p.local && p.base) {
            Item *item = m_state.find(p.uid);
            item->href.clear();
            item->etag.clear();
            item->base = p.result;
        } else if (!p.local && !p.remote) {
            std::erase_if(m_state.items, [&](const Item &i) { return i.uid == p.uid; });
        }
    }
    // An item whose task is gone on both sides is forgotten.
    std::erase_if(m_state.items, [&](const Item &i) { return !known.contains(i.uid); });
    if (!saveState()) {
        m_report.requests = m_client.requests();
        return m_report;
    }
    int since = 0;
    for (Plan &p : m_plans) {
        if (p.skipped || p.remoteAction == RemoteAction::None)
            continue;
        const bool sent = upload(p);
        if (!sent || ++since % 50 == 0) {
            saveState();
            if (!sent)
                break;
        }
    }
    saveState();
    m_report.requests = m_client.requests();
    return m_report;
}

}  // namespace

SyncReport syncList(const Config &config, const QString &password)
{
    Sync sync(config, password);
    return sync.run();
}

}  // namespace qsync
