#include "startup/frmstartup.h"

#include "common/desktop.h"
#include "common/itemaccessible.h"
#include "common/twips.h"
#include "page/pageviewer.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

// A window of its own to a screen reader, named by its title, not a piece
// of some other window.
QAccessibleInterface *startupAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("frmStartup") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

}  // namespace

frmStartup::frmStartup(QWidget *parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
{
    installAccessibleFactoryOnce<startupAccessibleFactory>();
    setWindowTitle(QStringLiteral("Quillet Alert!"));
    setAttribute(Qt::WA_QuitOnClose, true);
    resize(twipsToPixels(6120), twipsToPixels(4365));

    // Created first, so the buttons lie above it.
    WebBrowser1 = new PageViewer(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));

    cmdExit = new QPushButton(QStringLiteral("&Exit"), this);
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    cmdShowAll = new QPushButton(QStringLiteral("&Show all..."), this);
    cmdShowAll->setObjectName(QStringLiteral("cmdShowAll"));
    for (QPushButton *b : {cmdExit, cmdShowAll}) {
        b->setFont(sansFont());
        b->setAutoDefault(false);
        b->installEventFilter(this);
    }
    // The strip keeps its twips where the captions fit; a larger system font
    // widens a button rather than clipping its caption.
    const auto place = [](QPushButton *b, double left, double width) {
        const int w = std::max(twipsToPixels(width),
                               b->fontMetrics().horizontalAdvance(b->text().remove(u'&')) + 12);
        const int h = std::max(twipsToPixels(255), b->fontMetrics().height() + 4);
        b->setGeometry(twipsToPixels(left), 0, w, h);
    };
    place(cmdExit, 0, 1095);
    place(cmdShowAll, std::max(1200.0, pixelsToTwips(cmdExit->geometry().right() + 7)), 1335);
    cmdExit->raise();
    cmdShowAll->raise();

    setTabOrder(WebBrowser1, cmdExit);
    setTabOrder(cmdExit, cmdShowAll);

    connect(cmdExit, &QPushButton::clicked, qApp, &QCoreApplication::quit);
    connect(cmdShowAll, &QPushButton::clicked, this, &frmStartup::cmdShowAll_Click);
}

bool frmStartup::makepage()
{
    m_last = publishAlertPage();
    return m_last.page.announced;
}

void frmStartup::adoptPage(const PublishedPage &page) { m_last = page; }

void frmStartup::loadPageInto(PageViewer *browser) const
{
    if (browser)
        browser->showPage(m_last.page.view);
}

void frmStartup::setShowAll(std::function<void()> showAll) { m_showAll = std::move(showAll); }

void frmStartup::placeOnScreen()
{
    const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect screenRect = s->geometry();
    const int w = qRound(screenRect.width() / 1.5);
    const int h = qRound(screenRect.height() / 1.5);
    setGeometry(screenRect.x() + screenRect.width() / 2 - w / 2,
                screenRect.y() + screenRect.height() / 2 - h / 2, w, h);
    WebBrowser1->setGeometry(0, 0, w, h);
}

void frmStartup::setVisible(bool visible)
{
    // An alert box, not a window of its own in the task bar.
    if (visible && !isVisible())
        keepOutOfTaskbar(this);
    QWidget::setVisible(visible);
}

void frmStartup::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    WebBrowser1->setGeometry(0, 0, width(), height());
}

void frmStartup::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    WebBrowser1->setFocus();
}

void frmStartup::cmdShowAll_Click()
{
    hide();
    // Once the list is open this window is not shown again: its native
    // window (a backing store as large as the window) goes once the key
    // that got here is delivered. Its page stays laid out, for the blocks a
    // page made later shares with it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!isVisible())
                destroy();
        },
        Qt::QueuedConnection);
    if (m_showAll)
        m_showAll();
}

bool frmStartup::eventFilter(QObject *watched, QEvent *event)
{
    // An access key would animate the press and click 100 ms later; the
    // alert window answers Alt+E and Alt+S at once.
    if (event->type() == QEvent::Shortcut && (watched == cmdExit || watched == cmdShowAll)) {
        static_cast<QPushButton *>(watched)->click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
