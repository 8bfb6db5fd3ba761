// quillet-sync: `quillet --sync` and `--sync-setup`, exec'd by the front
// program so that only these commands map QtNetwork, libical and libsecret.
#include "app/commandline.h"
#include "store/taskfile.h"
#include "sync/config.h"
#include "sync/davclient.h"
#include "sync/engine.h"
#include "sync/keyring.h"
#include "sync/state.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace Module1;
using namespace qsync;

namespace {

QString listPath() { return QFileInfo(taskFilePath()).absoluteFilePath(); }

// A password typed on the terminal, not echoed; none without a terminal.
std::optional<QString> askPassword(const QUrl &url)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    const QByteArray prompt =
        "Password for " + url.toString(QUrl::RemoveUserInfo | QUrl::RemovePath).toUtf8() + ": ";
    (void)!::write(tty, prompt.constData(), size_t(prompt.size()));
    termios was{};
    const bool terminal = ::tcgetattr(tty, &was) == 0;
    if (terminal) {
        termios quiet = was;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    QByteArray line;
    char c = 0;
    while (::read(tty, &c, 1) == 1 && c != '\n')
        line += c;
    if (terminal)
        ::tcsetattr(tty, TCSAFLUSH, &was);
    (void)!::write(tty, "\n", 1);
    ::close(tty);
    return QString::fromUtf8(line);
}

const QByteArray kFindCalendars =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop>"
    "<d:resourcetype/><d:displayname/><d:current-user-principal/><c:calendar-home-set/>"
    "<c:supported-calendar-component-set/><d:current-user-privilege-set/>"
    "</d:prop></d:propfind>";

class Setup {
public:
    explicit Setup(const StartOptions &o) : m_options(o), m_client(o.user, QString()) { }
    int run();

private:
    // PROPFIND, asking for a password once when the server wants one, and
    // following redirects (the well-known address is one).
    std::optional<MultiStatus> find(QUrl *url, const char *depth);
    bool fail(const QString &why)
    {
        complain(why);
        return false;
    }

    const StartOptions &m_options;
    DavClient m_client;
    QString m_password;
    bool m_typed = false;
    QString m_error;
};

std::optional<MultiStatus> Setup::find(QUrl *url, const char *depth)
{
    for (int hop = 0; hop < 6; ++hop) {
        const Response r = m_client.send("PROPFIND", *url, kFindCalendars, {{"Depth", depth}});
        if (r.status == 401 && m_password.isEmpty() && m_options.passwordCommand.isEmpty()) {
            const std::optional<QString> typed = askPassword(*url);
            if (!typed) {
                m_error = QStringLiteral(
                              "%1 asks for a password and there is no terminal to "
                              "ask on; use --password-command")
                              .arg(url->toString(QUrl::RemoveUserInfo));
                return std::nullopt;
            }
            m_password = *typed;
            m_typed = true;
            m_client.setPassword(m_password);
            continue;
        }
        if (r.status >= 300 && r.status < 400 && r.headers.contains("location")) {
            const QUrl next = url->resolved(QUrl(QString::fromUtf8(r.header("location"))));
            if (const QString refused = refusedUrl(next); !refused.isEmpty()) {
                m_error = refused;
                return std::nullopt;
            }
            *url = next;
            continue;
        }
        if (r.status != 207) {
            m_error = describeFailure(r);
            return std::nullopt;
        }
        MultiStatus ms = parseMultiStatus(r.body, *url);
        if (!ms.valid) {
            m_error = QStringLiteral("%1 gave no WebDAV answer").arg(url->toString());
            return std::nullopt;
        }
        return ms;
    }
    m_error = QStringLiteral("%1 redirects too often").arg(url->toString());
    return std::nullopt;
}

QString lastSegment(const QString &path)
{
    QString p = path;
    while (p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

int Setup::run()
{
    QUrl url(m_options.syncUrl);
    if (const QString refused = refusedUrl(url); !refused.isEmpty())
        return fail(refused), 1;
    if (!m_options.passwordCommand.isEmpty()) {
        QString why;
        if (!runPasswordCommand(m_options.passwordCommand, &m_password, &why))
            return fail(why), 1;
        m_client.setPassword(m_password);
    }
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    std::optional<MultiStatus> here = find(&url, "0");
    if (!here)
        return fail(m_error), 1;
    const auto self = [&](const MultiStatus &ms) -> const DavEntry * {
        for (const DavEntry &e : ms.entries)
            if (e.href == canonicalPath(url, url.path()) || ms.entries.size() == 1)
                return &e;
        return ms.entries.empty() ? nullptr : &ms.entries.front();
    };
    struct Choice {
        QUrl url;
        QString name;
    };
    std::vector<Choice> calendars;
    const DavEntry *entry = self(*here);
    QUrl home;
    if (entry && entry->calendar) {
        if (!entry->todos)
            return fail(QStringLiteral("the calendar at %1 holds no to-dos").arg(url.toString())),
                   1;
        calendars.push_back(
            {url, entry->displayName.isEmpty() ? lastSegment(url.path()) : entry->displayName});
    } else {
        // A server: its principal, the principal's calendar home.
        QString principal = entry ? entry->principal : QString();
        if (principal.isEmpty()) {
            QUrl known = url;
            known.setPath(QStringLiteral("/.well-known/caldav"));
            if (std::optional<MultiStatus> wk = find(&known, "0")) {
                for (const DavEntry &e : wk->entries)
                    if (!e.principal.isEmpty())
                        principal = e.principal;
                if (!principal.isEmpty())
                    url = known;
            }
        }
        QString homePath = entry ? entry->home : QString();
        if (homePath.isEmpty()) {
            if (principal.isEmpty())
                return fail(QStringLiteral("%1 names no CalDAV calendar or account")
                                .arg(m_options.syncUrl)),
                       1;
            QUrl p = url.resolved(QUrl(principal));
            std::optional<MultiStatus> ps = find(&p, "0");
            if (!ps)
                return fail(m_error), 1;
            for (const DavEntry &e : ps->entries)
                if (!e.home.isEmpty())
                    homePath = e.home;
            url = p;
        }
        if (homePath.isEmpty())
            return fail(QStringLiteral("%1 says where no calendars are").arg(m_options.syncUrl)), 1;
        home = url.resolved(QUrl(homePath));
        std::optional<MultiStatus> all = find(&home, "1");
        if (!all)
            return fail(m_error), 1;
        for (const DavEntry &e : all->entries) {
            if (!e.calendar || !e.todos || !e.writable)
                continue;
            QUrl at = home;
            at.setPath(e.href);
            calendars.push_back(
                {at, e.displayName.isEmpty() ? lastSegment(e.href) : e.displayName});
        }
    }
    if (!m_options.calendar.isEmpty()) {
        std::erase_if(calendars, [&](const Choice &c) {
            return c.name != m_options.calendar && lastSegment(c.url.path()) != m_options.calendar;
        });
        if (calendars.empty() && !home.isValid())
            return fail(QStringLiteral("the calendar at %1 is not called %2")
                            .arg(m_options.syncUrl, m_options.calendar)),
                   1;
    }
    if (calendars.size() > 1) {
        QStringList names;
        for (const Choice &c : calendars)
            names << c.name;
        return fail(QStringLiteral("%1 has several calendars for to-dos (%2); name one with "
                                   "--calendar")
                        .arg(m_options.syncUrl, names.join(QStringLiteral(", ")))),
               1;
    }
    if (calendars.empty()) {
        // None yet: one is made for Quillet's tasks.
        const QString name =
            m_options.calendar.isEmpty() ? QStringLiteral("Quillet") : m_options.calendar;
        QUrl made = home;
        QString segment = QString::fromLatin1(QUrl::toPercentEncoding(name.toLower()));
        made.setPath(
            home.path() +
                (home.path().endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
                segment + QLatin1Char('/'),
            QUrl::TolerantMode);
        const QByteArray body =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<c:mkcalendar xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:set>"
            "<d:prop><d:displayname>" +
            name.toHtmlEscaped().toUtf8() +
            "</d:displayname><c:supported-calendar-component-set><c:comp name=\"VTODO\"/>"
            "</c:supported-calendar-component-set></d:prop></d:set></c:mkcalendar>";
        const Response r = m_client.send("MKCALENDAR", made, body);
        if (!r.ok())
            return fail(QStringLiteral("no calendar could be made: %1").arg(describeFailure(r))), 1;
        calendars.push_back({made, name});
    }
    Config config;
    config.collection = calendars.front().url.toString();
    config.user = m_options.user;
    config.passwordCommand = m_options.passwordCommand;
    QString why;
    if (m_typed) {
        if (!storePassword(config.collection, config.user, m_password, &why))
            return fail(why + QStringLiteral("; use --password-command instead")), 1;
        config.keyring = true;
    }
    if (!writeConfig(listPath(), config, &why))
        return fail(why), 1;
    // Set up again: a sync afresh, from what both sides hold now.
    State fresh;
    fresh.collection = config.collection;
    if (!writeState(fresh, &why))
        return fail(why), 1;
    std::printf("%s syncs with the calendar \"%s\" at %s\n", qPrintable(taskFilePath()),
                qPrintable(calendars.front().name),
                qPrintable(calendars.front().url.toString(QUrl::RemoveUserInfo)));
    return 0;
}

int syncNow()
{
    QString why;
    const std::optional<Config> config = readConfig(listPath(), &why);
    if (!config) {
        complain(why.isEmpty() ? QStringLiteral("%1 has no calendar to sync with; run quillet "
                                                "--sync-setup URL first")
                                     .arg(taskFilePath())
                               : why);
        return 1;
    }
    if (const QString refused = refusedUrl(QUrl(config->collection)); !refused.isEmpty()) {
        complain(refused);
        return 1;
    }
    QString password;
    if (!fetchPassword(*config, &password, &why)) {
        complain(why);
        return 1;
    }
    const SyncReport report = syncList(*config, password);
    std::printf("%d sent, %d received, %d merged, %d conflicts", report.sent, report.received,
                report.merged, report.conflicts);
    if (report.left > 0)
        std::printf(", %d left on the server", report.left);
    std::printf("\n");
    if (!report.error.isEmpty()) {
        complain(report.error);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    StartOptions options;
    if (const std::optional<int> code = beginProgram(argc, argv, &options))
        return *code;
    QCoreApplication app(argc, argv);
    switch (options.command) {
    case StartOptions::Sync: return syncNow();
    case StartOptions::SyncSetup: return Setup(options).run();
    default: complain(QStringLiteral("quillet-sync does only --sync and --sync-setup")); return 2;
    }
}
