#pragma once

// A real X server (Xvfb) for whole-program tests, a second X client that
// finds and pings the program's windows, and the program started on it
// under a fixed date.
#include "support/testsupport.h"
#include "system/runtool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

constexpr int kWaitMs = 3000;  // the longest any single wait may take

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
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, m_root), nullptr);
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
            xcb_get_window_attributes_reply_t *a =
                xcb_get_window_attributes_reply(m_conn, attrs[size_t(i)], nullptr);
            xcb_get_property_reply_t *p = xcb_get_property_reply(m_conn, names[size_t(i)], nullptr);
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE) {
                TopLevel w;
                w.id = children[i];
                w.overrideRedirect = a->override_redirect;
                if (p)
                    w.title =
                        QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(p)),
                                          xcb_get_property_value_length(p));
                result.push_back(w);
            }
            std::free(a);
            std::free(p);
        }
        std::free(tree);
        return result;
    }

    // A window of that title; the main window names a list not the user's
    // own after it ("Quillet — /tmp/x/tasks.txt"), which counts too.
    static bool titled(const QString &shown, const QString &title)
    {
        return shown == title || shown.startsWith(title + QStringLiteral(" — "));
    }
    xcb_window_t findWindow(const QString &title)
    {
        for (const TopLevel &w : visibleWindows()) {
            if (!w.overrideRedirect && titled(w.title, title))
                return w.id;
        }
        return 0;
    }

    // The names of the window's _NET_WM_STATE atoms.
    QStringList states(xcb_window_t window)
    {
        QStringList names;
        xcb_get_property_reply_t *p = xcb_get_property_reply(
            m_conn,
            xcb_get_property(m_conn, 0, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
            nullptr);
        if (p && p->format == 32) {
            const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(p));
            for (int i = 0; i < xcb_get_property_value_length(p) / 4; ++i) {
                xcb_get_atom_name_reply_t *n =
                    xcb_get_atom_name_reply(m_conn, xcb_get_atom_name(m_conn, atoms[i]), nullptr);
                if (n)
                    names << QString::fromLatin1(xcb_get_atom_name_name(n),
                                                 xcb_get_atom_name_name_length(n));
                std::free(n);
            }
        }
        std::free(p);
        return names;
    }

    // WM_CLASS: the instance and the class name, as task bars read them.
    QStringList wmClass(xcb_window_t window)
    {
        QStringList parts;
        xcb_get_property_reply_t *p = xcb_get_property_reply(
            m_conn, xcb_get_property(m_conn, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
            nullptr);
        if (p && p->format == 8) {
            const QByteArray value(static_cast<const char *>(xcb_get_property_value(p)),
                                   xcb_get_property_value_length(p));
            for (const QByteArray &part : value.split('\0'))
                parts << QString::fromLatin1(part);
            if (!parts.isEmpty() && parts.last().isEmpty())
                parts.removeLast();
        }
        std::free(p);
        return parts;
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
        xcb_send_event(m_conn, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&ev));
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
        xcb_get_geometry_reply_t *g =
            xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, window), nullptr);
        if (!g)
            return band;
        const int w = g->width;
        const int h = g->height;
        std::free(g);
        xcb_get_image_reply_t *img =
            xcb_get_image_reply(m_conn,
                                xcb_get_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                              uint16_t(w), uint16_t(h), ~0u),
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

    // Whether the window shows something yet: a mapped window that has not
    // been painted is one colour.
    bool painted(xcb_window_t window)
    {
        xcb_get_geometry_reply_t *g =
            xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, window), nullptr);
        if (!g)
            return false;
        const uint16_t w = g->width, h = g->height;
        std::free(g);
        xcb_get_image_reply_t *img = xcb_get_image_reply(
            m_conn, xcb_get_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, w, h, ~0u),
            nullptr);
        if (!img)
            return false;
        const auto *px = reinterpret_cast<const uint32_t *>(xcb_get_image_data(img));
        const int n = xcb_get_image_data_length(img) / 4;
        bool varied = false;
        for (int i = 1; i < n && !varied; ++i)
            varied = (px[i] & 0xFFFFFF) != (px[0] & 0xFFFFFF);
        std::free(img);
        return varied;
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

// Each test gets its own X server, task folder and private runtime folder.
class XServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        total.start();
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(runtime.isValid());
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // Xvfb picks a free display itself and prints its number.
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
        for (QProcess *p : {&app, &second, &xvfb}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
    }

    // Starts the program in the task folder. Xvfb now and then refuses a new
    // client; a start that ends that way is tried once more.
    void startProgram(const QStringList &args = {}, QProcess *process = nullptr)
    {
        QProcess &p = process ? *process : app;
        for (int attempt = 0; attempt < 2; ++attempt) {
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(dir.path());
            p.start(QStringLiteral(QUILLET_BINARY), args);
            ASSERT_TRUE(p.waitForStarted(5000));
            if (!p.waitForFinished(300))
                return;
            const QByteArray said = p.readAllStandardError();
            if (!said.contains("could not connect to display")) {
                std::fprintf(stderr, "%s", said.constData());
                return;
            }
        }
    }

    // The window with exactly this title once it is mapped, or 0 after `ms`.
    xcb_window_t waitForWindow(const QString &title, int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (const xcb_window_t w = x.findWindow(title))
                return w;
            QThread::msleep(5);
        }
        return 0;
    }

    bool windowVisible(const QString &title) { return x.findWindow(title) != 0; }

    // True once `condition` holds, polled for at most `ms`.
    template <typename Condition> static bool waitUntil(Condition condition, int ms = kWaitMs)
    {
        QElapsedTimer t;
        t.start();
        while (!condition()) {
            if (t.elapsed() > ms)
                return false;
            QThread::msleep(5);
        }
        return true;
    }

    // True once no window has this title, at most `ms` from now.
    bool waitForWindowGone(const QString &title, int ms = kWaitMs)
    {
        return waitUntil([&] { return !windowVisible(title); }, ms);
    }

    // True once the process has ended, at most `ms` from now.
    static bool ended(QProcess &p, int ms)
    {
        return p.state() == QProcess::NotRunning || p.waitForFinished(ms);
    }

    // One xdotool call; true when it ran to its end.
    bool send(const QStringList &args)
    {
        return runTool(QStringList{"xdotool"} + args, env, nullptr, kWaitMs);
    }

    void focus(xcb_window_t w) { send({"windowfocus", "--sync", QString::number(w)}); }

    // Focuses the window, then presses keys (xdotool key names), each once
    // the program is idle again.
    void keys(xcb_window_t w, const QStringList &keyNames)
    {
        focus(w);
        for (const QString &k : keyNames) {
            ASSERT_TRUE(send({"key", "--clearmodifiers", "--delay", "0", k})) << k.toStdString();
            x.idle(w);
        }
    }

    void type(const QString &text) { ASSERT_TRUE(send({"type", "--delay", "20", text})); }

    static QStringList clickAt(xcb_window_t w, int px, int py, int button = 1)
    {
        // mousedown/mouseup: "click" sleeps 100 ms after the click.
        return {"mousemove",
                "--window",
                QString::number(w),
                QString::number(px),
                QString::number(py),
                "mousedown",
                QString::number(button),
                "mouseup",
                QString::number(button)};
    }

    QString taskFile() const { return dir.filePath("tasks.txt"); }

    // Waits until tasks.txt differs from `before`, at most `ms`.
    QByteArray waitForFileChange(const QByteArray &before, int ms = kWaitMs)
    {
        QElapsedTimer t;
        t.start();
        QByteArray now;
        while (t.elapsed() < ms) {
            now = testsupport::readFile(taskFile());
            if (!now.isEmpty() && now != before)
                break;
            QThread::msleep(5);
        }
        return now;
    }

    QElapsedTimer total;
    QTemporaryDir dir;
    QTemporaryDir runtime;
    QString displayName;
    QProcess xvfb;
    QProcess app;
    QProcess second;
    QProcessEnvironment env;
    XProbe x;
};
