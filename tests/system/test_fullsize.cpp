// The whole program at full tables (1001 tasks, 101 rules) under a real X
// server: every step is timed from the input until the program is idle again.
#include "system/runtool.h"
#include "support/testsupport.h"

#include "store/store.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <tuple>
#include <vector>

namespace {

// Each step must be answered within 200 ms. QUILLET_STEP_LIMIT_MS loosens it
// where the machine is shared with other test processes (CI); a sanitizer
// build runs several times slower, so it gets five times the limit.
double stepLimitMs()
{
    bool ok = false;
    double limit = qEnvironmentVariable("QUILLET_STEP_LIMIT_MS").toDouble(&ok);
    if (!ok || limit <= 0)
        limit = 200;
#ifdef QUILLET_SANITIZED
    limit *= 5;
#endif
    return limit;
}
const double kStepLimitMs = stepLimitMs();
constexpr int kWaitMs = 3000;  // the longest any single wait may take
constexpr int kBudgetMs = 50000;  // all waits together, so a hung program ends the test in time

// A second X client inside the test: finds windows by title, grabs their
// pixels and pings the program. xdotool runs as a process per call, which
// adds its own start-up to every poll; this does not.
class XProbe {
public:
    bool open(const QString &display)
    {
        int screenNumber = 0;
        m_conn = xcb_connect(display.toLatin1().constData(), &screenNumber);
        if (xcb_connection_has_error(m_conn))
            return false;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_conn));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&it);
        m_root = it.data->root;
        // The program answers a ping on the root window.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, m_root, XCB_CW_EVENT_MASK, &mask);
        m_protocols = atom("WM_PROTOCOLS");
        m_ping = atom("_NET_WM_PING");
        m_netName = atom("_NET_WM_NAME");
        m_utf8 = atom("UTF8_STRING");
        xcb_flush(m_conn);
        return true;
    }

    ~XProbe()
    {
        if (m_conn)
            xcb_disconnect(m_conn);
    }

    struct TopLevel {
        xcb_window_t id = 0;
        QString title;
        bool overrideRedirect = false;
    };

    // The mapped top-level windows, in stacking order.
    std::vector<TopLevel> visibleWindows()
    {
        std::vector<TopLevel> result;
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, m_root), nullptr);
        if (!tree)
            return result;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        const int n = xcb_query_tree_children_length(tree);
        std::vector<xcb_get_window_attributes_cookie_t> attrs;
        std::vector<xcb_get_property_cookie_t> names;
        for (int i = 0; i < n; ++i) {
            attrs.push_back(xcb_get_window_attributes(m_conn, children[i]));
            names.push_back(xcb_get_property(m_conn, 0, children[i], m_netName, m_utf8, 0, 256));
        }
        for (int i = 0; i < n; ++i) {
            xcb_get_window_attributes_reply_t *a = xcb_get_window_attributes_reply(m_conn, attrs[size_t(i)], nullptr);
            xcb_get_property_reply_t *p = xcb_get_property_reply(m_conn, names[size_t(i)], nullptr);
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE) {
                TopLevel w;
                w.id = children[i];
                w.overrideRedirect = a->override_redirect;
                if (p)
                    w.title = QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(p)),
                                                xcb_get_property_value_length(p));
                result.push_back(w);
            }
            std::free(a);
            std::free(p);
        }
        std::free(tree);
        return result;
    }

    xcb_window_t findWindow(const QString &title)
    {
        for (const TopLevel &w : visibleWindows()) {
            if (!w.overrideRedirect && w.title == title)
                return w.id;
        }
        return 0;
    }

    int popupCount()
    {
        int n = 0;
        for (const TopLevel &w : visibleWindows())
            n += w.overrideRedirect ? 1 : 0;
        return n;
    }

    // Sends _NET_WM_PING to the window and waits for the program's answer:
    // it comes only once the program's event loop reaches the message.
    bool ping(xcb_window_t window, int timeoutMs = kWaitMs)
    {
        const uint32_t serial = ++m_serial;
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = window;
        ev.type = m_protocols;
        ev.data.data32[0] = m_ping;
        ev.data.data32[1] = serial;
        ev.data.data32[2] = window;
        xcb_send_event(m_conn, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&ev));
        xcb_flush(m_conn);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            while (xcb_generic_event_t *e = xcb_poll_for_event(m_conn)) {
                bool answered = false;
                if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                    const auto *m = reinterpret_cast<xcb_client_message_event_t *>(e);
                    answered = m->data.data32[0] == m_ping && m->data.data32[1] == serial;
                }
                std::free(e);
                if (answered)
                    return true;
            }
            if (xcb_connection_has_error(m_conn))
                return false;
            pollfd fd{xcb_get_file_descriptor(m_conn), POLLIN, 0};
            ::poll(&fd, 1, 2);
        }
        return false;
    }

    // Idle: three pings in a row, so that the input before them, the work it
    // started and the repaint it posted have all been handled.
    bool idle(xcb_window_t window, int timeoutMs = kWaitMs)
    {
        return ping(window, timeoutMs) && ping(window, timeoutMs) && ping(window, timeoutMs);
    }

    // The rows of the window painted in the list's selection colour
    // (blue 100 on black), and a point inside them.
    struct Band {
        int top = -1;
        int bottom = -1;
        int x = -1;
        bool found() const { return top >= 0; }
    };
    Band selectionBand(xcb_window_t window)
    {
        Band band;
        xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, window), nullptr);
        if (!g)
            return band;
        const int w = g->width;
        const int h = g->height;
        std::free(g);
        xcb_get_image_reply_t *img = xcb_get_image_reply(
            m_conn, xcb_get_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, uint16_t(w), uint16_t(h), ~0u),
            nullptr);
        if (!img)
            return band;
        const auto *px = reinterpret_cast<const uint32_t *>(xcb_get_image_data(img));
        const int stride = xcb_get_image_data_length(img) / 4 / std::max(1, h);
        for (int y = 0; y < h; ++y) {
            int count = 0;
            int first = -1;
            for (int x = 0; x < w && x < stride; ++x) {
                if ((px[y * stride + x] & 0xFFFFFF) == 0x000064) {
                    if (first < 0)
                        first = x;
                    ++count;
                }
            }
            if (count > 40) {
                if (band.top < 0) {
                    band.top = y;
                    band.x = first + 10;
                }
                band.bottom = y;
            }
        }
        std::free(img);
        return band;
    }

private:
    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *r = xcb_intern_atom_reply(
            m_conn, xcb_intern_atom(m_conn, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(r);
        return a;
    }

    xcb_connection_t *m_conn = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_protocols = 0;
    xcb_atom_t m_ping = 0;
    xcb_atom_t m_netName = 0;
    xcb_atom_t m_utf8 = 0;
    uint32_t m_serial = 0;
};

struct Generated {
    QByteArray bytes;
    int latestRecord = -1;  // the record due last among the current tasks
};

QByteArray line(const QByteArray &key, const QByteArray &value) { return key + "=" + value + "\r\n"; }
QByteArray num(int v) { return QByteArray::number(v); }

// 1001 tasks and 101 rules in the file's own layout. Recycled tasks fall in
// 2024, before every current one; the task due last stands in the middle of
// the file, so the table's file order and its due order differ.
Generated fullFile(const QDate &today)
{
    static const char *const verbs[] = {"Pay", "Call", "Renew", "Book", "Order", "Clean", "Reply to",
                                        "Update", "Return", "Check", "Plan", "Fix"};
    static const char *const things[] = {"the rent", "the plumber", "passport", "the car service",
                                         "printer ink", "the gutters", "Anna", "the website",
                                         "library books", "the <b>report</b>", "holiday", "50% & more"};
    static const char *const whom[] = {"Me", "Anna", "Office", "Home", "Family", "Sam", "", "Dr. Lee"};
    const QDate fixed(2026, 12, 8);
    Generated g;
    g.latestRecord = 500;
    QByteArray &b = g.bytes;
    b = "; Quillet\r\n; ----------\r\n; Tasks and settings\r\n; DO NOT MODIFY THIS FILE\r\n\r\n"
        "[Tasks]\r\n\r\n";
    for (int i = 0; i < 1001; ++i) {
        QByteArray deleted = "N";
        if (i % 50 == 7)
            deleted = "Y";
        else if (i % 97 == 3)
            deleted = "";
        QDate due = (i % 2 ? fixed : today).addDays((i * 37) % 401 - 200);
        if (deleted == "Y")
            due = QDate(2024, 1 + i % 12, 1 + i % 28);
        if (i == g.latestRecord)
            due = today.addYears(5);
        const QByteArray title = QByteArray(verbs[i % 12]) + " " + things[(i / 12) % 12] + " #" + num(i);
        QByteArray description;
        if (i % 3 == 0)
            description = "Notes for task " + num(i) + "|~second line|~third: a=b; [x]";
        else if (i % 3 == 1)
            description = "One line " + num(i * 7);
        b += line("ttl", title) + line("for", whom[i % 8]) + line("day", num(due.day())) +
             line("mon", num(due.month())) + line("yea", num(due.year())) + line("hou", num(i % 24)) +
             line("min", num((i * 7) % 60)) + line("sec", num((i * 13) % 60)) + line("del", deleted) +
             line("des", description) + "act=addtask\r\n\r\n";
    }
    b += "[Alerts]\r\n\r\n";
    for (int r = 0; r < 101; ++r) {
        // Rule 50 announces every overdue task at start.
        const bool announce = r == 50;
        const int interval = announce ? 0 : (r * 3) % 120 + 1;
        const qint32 colour = announce ? 255 : qint32((r * 2654435761u) & 0xFFFFFF);
        b += line("val", num(interval)) + "unt=d\r\n" + line("clr", num(colour)) +
             (announce ? "alr=on\r\n" : (r % 7 == 0 ? "alr=on\r\n" : "alr=off\r\n")) +
             "act=addalert\r\n\r\n";
    }
    b += "\r\n";
    return g;
}

// Both tables as loaded from a file; tasks sorted, rules in file order.
struct Tables {
    std::vector<Module1::Task> tasks;
    std::vector<Module1::AlertRule> rules;
};

auto taskKey(const Module1::Task &t)
{
    return std::tie(t.sortKey, t.title, t.forWhom, t.description, t.deleted, t.year, t.month, t.day,
                    t.hour, t.minute, t.second, t.dueText);
}

std::optional<Tables> loadCopy(const QString &path)
{
    if (!Module1::loadTasks(path).ok())
        return std::nullopt;
    Tables t;
    t.tasks.assign(Module1::tasks.begin(), Module1::tasks.begin() + Module1::taskCount);
    t.rules.assign(Module1::alertRules.begin(), Module1::alertRules.begin() + Module1::alertRuleCount);
    std::sort(t.tasks.begin(), t.tasks.end(),
              [](const Module1::Task &a, const Module1::Task &b) { return taskKey(a) < taskKey(b); });
    return t;
}

// "title: old -> new" for every task whose recycle mark differs.
std::vector<std::string> changedMarks(const Tables &before, const Tables &after)
{
    std::vector<std::string> changes;
    for (const Module1::Task &b : before.tasks) {
        for (const Module1::Task &a : after.tasks) {
            if (a.title == b.title && a.deleted != b.deleted)
                changes.push_back((b.title + ": \"" + b.deleted + "\" -> \"" + a.deleted + "\"").toStdString());
        }
    }
    return changes;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &l : lines)
        text += "\n  " + l;
    return text.empty() ? "\n  (none)" : text;
}

class FullSize : public ::testing::Test {
protected:
    void SetUp() override
    {
        total.start();
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(runtime.isValid());
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        ASSERT_TRUE(xvfb.waitForStarted(3000));
        QByteArray number;
        QElapsedTimer t;
        t.start();
        while (!number.contains('\n') && t.elapsed() < 10000 && xvfb.state() == QProcess::Running) {
            xvfb.waitForReadyRead(100);
            number += xvfb.readAllStandardOutput();
        }
        ASSERT_TRUE(number.contains('\n')) << "Xvfb did not start";
        displayName = ":" + QString::fromLatin1(number.trimmed());
        ASSERT_TRUE(x.open(displayName)) << "cannot connect to " << displayName.toStdString();

        env = programEnvironment(displayName, runtime.path());
        // Sanitizer builds: the session bus library keeps one buffer to the end.
        const QString suppressions = dir.filePath("lsan.supp");
        testsupport::writeFile(suppressions, "leak:libdbus-1.so\n");
        QString lsan = env.value("LSAN_OPTIONS");
        if (!lsan.isEmpty())
            lsan += ':';
        env.insert("LSAN_OPTIONS", lsan + "suppressions=" + suppressions);
    }

    void TearDown() override
    {
        for (QProcess *p : {&app, &xvfb}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        if (!timings.empty()) {
            std::printf("\n[timing] summary (limit %.0f ms)\n", kStepLimitMs);
            for (const auto &[label, ms] : timings)
                std::printf("[timing]   %-58s %8.1f ms\n", label.c_str(), ms);
        }
        std::printf("[timing] whole test: %lld ms\n", static_cast<long long>(total.elapsed()));
    }

    double record(const std::string &label, double ms)
    {
        std::printf("[timing] %s: %.1f ms\n", label.c_str(), ms);
        std::fflush(stdout);
        timings.emplace_back(label, ms);
        return ms;
    }

    // A single wait's limit: kWaitMs, or what is left of the whole budget.
    int waitLimit() const { return int(std::clamp<qint64>(kBudgetMs - total.elapsed(), 0, kWaitMs)); }

    static double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

    // One xdotool call as the user's input; returns once xdotool has sent it.
    void send(const QStringList &args)
    {
        ASSERT_TRUE(runTool(QStringList{"xdotool"} + args, env, nullptr, 3000)) << args.join(' ').toStdString();
    }

    void focus(xcb_window_t w)
    {
        runTool({"xdotool", "windowfocus", "--sync", QString::number(w)}, env, nullptr, 2000);
    }

    // Sends the input, then waits for the window titled `title` to be
    // mapped (or unmapped when `gone`), then for the program to be idle.
    // The time counts from the start of the xdotool call, its own start-up
    // included.
    double step(const std::string &label, const QStringList &input, const QString &title, bool gone,
                xcb_window_t pingTarget, xcb_window_t *found = nullptr)
    {
        QElapsedTimer t;
        t.start();
        send(input);
        const double sent = msSince(t);
        xcb_window_t w = 0;
        double shown = -1;
        if (!title.isEmpty()) {
            const int limit = waitLimit();
            while (t.elapsed() < limit) {
                w = x.findWindow(title);
                if ((w != 0) != gone) {
                    shown = msSince(t);
                    break;
                }
                QThread::usleep(500);
            }
            EXPECT_GE(shown, 0) << label << ": window \"" << title.toStdString() << "\" "
                                << (gone ? "did not close" : "did not appear");
        }
        EXPECT_TRUE(x.idle(w && !gone ? w : pingTarget, waitLimit())) << label << ": the program does not answer";
        const double ms = msSince(t);
        QString detail = QStringLiteral("xdotool %1 ms").arg(sent, 0, 'f', 1);
        if (shown >= 0)
            detail += QStringLiteral(", window %1 at %2 ms").arg(gone ? "gone" : "mapped").arg(shown, 0, 'f', 1);
        record(label + " [" + detail.toStdString() + "]", ms);
        EXPECT_LT(ms, kStepLimitMs) << label;
        if (found)
            *found = w;
        return ms;
    }

    static QStringList clickAt(xcb_window_t w, int px, int py, int button = 1)
    {
        // mousedown/mouseup: "click" sleeps 100 ms after the click.
        return {"mousemove", "--window", QString::number(w), QString::number(px), QString::number(py),
                "mousedown", QString::number(button), "mouseup", QString::number(button)};
    }

    static QStringList key(const QString &name) { return {"key", "--delay", "0", name}; }

    // Waits until tasks.txt differs from `before`.
    QByteArray waitForFileChange(const QByteArray &before)
    {
        QElapsedTimer t;
        t.start();
        QByteArray now;
        const int limit = waitLimit();
        while (t.elapsed() < limit) {
            now = testsupport::readFile(taskFile());
            if (!now.isEmpty() && now != before)
                break;
            QThread::msleep(5);
        }
        return now;
    }

    QString taskFile() const { return dir.filePath("tasks.txt"); }

    // How the task with this title is marked in the file on disk.
    std::optional<QString> deletedMarkOf(const QString &title)
    {
        const QString copy = dir.filePath("probe.txt");
        QFile::remove(copy);
        QFile::copy(taskFile(), copy);
        if (!Module1::loadTasks(copy).ok())
            return std::nullopt;
        for (int i = 0; i < Module1::taskCount; ++i) {
            if (Module1::tasks[size_t(i)].title == title)
                return Module1::tasks[size_t(i)].deleted;
        }
        return std::nullopt;
    }

    QElapsedTimer total;
    QTemporaryDir dir;
    QTemporaryDir runtime;
    QString displayName;
    QProcess xvfb;
    QProcess app;
    QProcessEnvironment env;
    XProbe x;
    std::vector<std::pair<std::string, double>> timings;
};

TEST_F(FullSize, EveryStepAnswersWithinTheLimitAndTheTablesSurvive)
{
    // GIVEN full tables, some tasks overdue by the real clock
    const Generated gen = fullFile(QDate::currentDate());
    testsupport::writeFile(taskFile(), gen.bytes);
    testsupport::writeFile(dir.filePath("generated.txt"), gen.bytes);
    const std::optional<Tables> expected = loadCopy(dir.filePath("generated.txt"));
    ASSERT_TRUE(expected.has_value());
    ASSERT_EQ(expected->tasks.size(), 1001u);
    ASSERT_EQ(expected->rules.size(), 101u);
    Module1::loadTasks(dir.filePath("generated.txt"));
    const QString latestTitle = Module1::tasks[size_t(gen.latestRecord)].title;
    const QString lastRecordTitle = Module1::tasks[1000].title;

    // WHEN the program starts and the user opens the list
    QElapsedTimer t;
    t.start();
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(dir.path());
    app.start(QStringLiteral(QUILLET_BINARY), {});
    ASSERT_TRUE(app.waitForStarted(5000));
    xcb_window_t alert = 0;
    while (t.elapsed() < 10000 && !(alert = x.findWindow("Quillet Alert!")))
        QThread::usleep(500);
    ASSERT_NE(alert, 0u) << "the start-up window did not appear";
    ASSERT_TRUE(x.idle(alert, waitLimit()));
    const double startMs = record("start: process start -> start-up window shown and idle", msSince(t));
    EXPECT_LT(startMs, 5000);  // process start and Qt's own set-up; not a response time

    // A bare X round trip through xdotool, for comparison with every step.
    {
        QElapsedTimer rt;
        rt.start();
        runTool({"xdotool", "getwindowname", QString::number(alert)}, env);
        record("reference: one xdotool getwindowname", msSince(rt));
    }

    focus(alert);
    xcb_window_t main = 0;
    step("Alt+S -> main window \"Quillet\" shown and idle", key("alt+s"),
         "Quillet", false, alert, &main);
    ASSERT_NE(main, 0u);
    QThread::msleep(300);  // first layout and paint

    // AND scrolls to the end and selects the last row
    step("click a row (the list takes the keyboard)",
         clickAt(main, 300, 80), {}, false, main);
    step("End -> last row selected, list scrolled", key("End"), {}, false, main);
    const XProbe::Band last = x.selectionBand(main);
    ASSERT_TRUE(last.found()) << "no selected row is visible after End";
    std::printf("[info] last row painted at y %d..%d\n", last.top, last.bottom);
    const int lastY = (last.top + last.bottom) / 2;
    step("click the last row", clickAt(main, last.x, lastY),
         {}, false, main);
    const XProbe::Band clicked = x.selectionBand(main);
    EXPECT_EQ(clicked.top, last.top) << "the click selected another row";

    // AND opens the editor and cancels it
    focus(main);
    step("Alt+T -> Tasks menu open", key("alt+t"), {}, false, main);
    EXPECT_GE(x.popupCount(), 1) << "the Tasks menu did not open";
    step("E -> Edit... highlighted", key("e"), {}, false, main);
    xcb_window_t editor = 0;
    step("Return -> editor \"New / Edit task\" shown", key("Return"), "New / Edit task", false, main,
         &editor);
    ASSERT_NE(editor, 0u);
    focus(editor);
    const QByteArray beforeDelete = testsupport::readFile(taskFile());
    step("Escape -> editor closed (file read back)", key("Escape"), "New / Edit task", true, main);

    // AND recycles the selected task
    focus(main);
    step("Alt+T -> Tasks menu open", key("alt+t"), {}, false, main);
    xcb_window_t question = 0;
    step("D -> question \"Delete this entry?!\" shown", key("d"), "Delete this entry?!", false, main,
         &question);
    ASSERT_NE(question, 0u);
    focus(question);
    step("Return (Yes) -> task recycled, file saved twice, list redrawn", key("Return"),
         "Delete this entry?!", true, main);
    const QByteArray afterDelete = waitForFileChange(beforeDelete);
    EXPECT_NE(afterDelete, beforeDelete) << "the recycle did not reach the file";
    EXPECT_EQ(deletedMarkOf(latestTitle).value_or("?"), "Y")
        << "the highlighted task \"" << latestTitle.toStdString() << "\" was not recycled";
    EXPECT_EQ(deletedMarkOf(lastRecordTitle).value_or("?"), "N")
        << "\"" << lastRecordTitle.toStdString()
        << "\", the task in the selected slot in file order, was recycled instead of the highlighted one";

    // AND restores it from the recycled view
    step("click \"Recycled\" -> recycled view drawn",
         clickAt(main, 40, 200), {}, false, main);
    step("End -> last recycled row selected", key("End"), {}, false, main);
    const XProbe::Band recycled = x.selectionBand(main);
    ASSERT_TRUE(recycled.found()) << "no selected row in the recycled view";
    const int popupsBefore = x.popupCount();
    step("right click the row -> context menu", clickAt(main, recycled.x, (recycled.top + recycled.bottom) / 2, 3),
         {}, false, main);
    EXPECT_GT(x.popupCount(), popupsBefore) << "the context menu did not open";
    step("U (Un-Delete) -> task restored, file saved, list redrawn", key("u"), {}, false, main);
    const QByteArray afterRestore = waitForFileChange(afterDelete);
    EXPECT_NE(afterRestore, afterDelete) << "the restore did not reach the file";
    {
        testsupport::writeFile(dir.filePath("deleted.txt"), afterDelete);
        testsupport::writeFile(dir.filePath("restored.txt"), afterRestore);
        const std::optional<Tables> d = loadCopy(dir.filePath("deleted.txt"));
        const std::optional<Tables> r = loadCopy(dir.filePath("restored.txt"));
        ASSERT_TRUE(d && r);
        const std::vector<std::string> recycledNow = changedMarks(*expected, *d);
        const std::vector<std::string> restoredNow = changedMarks(*d, *r);
        std::printf("[info] recycled by Delete:%s\n[info] restored by Un-Delete:%s\n",
                    joined(recycledNow).c_str(), joined(restoredNow).c_str());
        EXPECT_EQ(changedMarks(*expected, *r).size(), 0u)
            << "End in the recycled view did not select the task recycled last; Un-Delete restored"
            << joined(restoredNow);
    }

    // AND leaves through Tasks > Exit
    focus(main);
    send(key("alt+t"));
    ASSERT_TRUE(x.idle(main, waitLimit()));
    send(key("e"));
    send(key("e"));
    QElapsedTimer exitTimer;
    exitTimer.start();
    send(key("Return"));
    const bool ended = app.waitForFinished(std::max(waitLimit(), 500));
    record("Return on Exit -> process ended", msSince(exitTimer));
    EXPECT_TRUE(ended) << "Tasks > Exit did not end the program";
    if (ended) {
        EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().right(6000).toStdString();
    }

    // THEN the file holds the same tasks and rules as the generated one
    const QString copy = dir.filePath("final.txt");
    ASSERT_TRUE(QFile::copy(taskFile(), copy));
    const std::optional<Tables> actual = loadCopy(copy);
    ASSERT_TRUE(actual.has_value()) << "the final file does not load";
    ASSERT_EQ(actual->tasks.size(), expected->tasks.size());
    for (size_t i = 0; i < expected->tasks.size(); ++i) {
        const Module1::Task &a = actual->tasks[i];
        const Module1::Task &e = expected->tasks[i];
        EXPECT_TRUE(a == e) << "task " << i << ": \"" << a.title.toStdString() << "\" del=" << a.deleted.toStdString()
                        << " against \"" << e.title.toStdString() << "\" del=" << e.deleted.toStdString();
    }
    ASSERT_EQ(actual->rules.size(), expected->rules.size());
    for (size_t i = 0; i < expected->rules.size(); ++i)
        EXPECT_TRUE(actual->rules[i] == expected->rules[i]) << "rule " << i + 1;
    EXPECT_LT(total.elapsed(), 60000) << "the whole run took too long";
}

}  // namespace
