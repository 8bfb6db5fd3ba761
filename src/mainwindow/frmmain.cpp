#include "mainwindow/frmmain.h"

#include "common/filereport.h"
#include "common/messagebox.h"
#include "common/twips.h"
#include "mainwindow/navhotarea.h"
#include "mainwindow/navigationpane.h"
#include "mainwindow/splitterbar.h"
#include "mainwindow/tasklistcanvas.h"
#include "page/pageviewer.h"
#include "store/listchange.h"
#include "store/listlocation.h"
#include "store/settingsfile.h"
#include "store/store.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QWheelEvent>

#include <optional>

namespace {

constexpr int kDateCheckMs = 30 * 1000;

void place(QWidget *w, const TwipsRect &r) { placeInTwips(w, r.left, r.top, r.width, r.height); }

}  // namespace

frmMain::frmMain(frmMainHooks hooks, QWidget *parent)
    : QMainWindow(parent), m_hooks(std::move(hooks))
{
    setObjectName(QStringLiteral("frmMain"));
    // Another list than the user's own (--file, a project folder's) is named,
    // so that a window never passes for the list the menu entry opens.
    setWindowTitle(Module1::holdsUserList() ? tr("Quillet")
                                            : tr("Quillet — %1").arg(Module1::taskFilePath()));
    setFont(sansFont());
    buildControls();
    buildMenus();
    buildStatusBar();

    // The design client area, menu bar excluded.
    resize(twipsToPixels(10305), twipsToPixels(5670) + menuBar()->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    restoreWindowGeometry();
    load();
}

frmMain::~frmMain() = default;

void frmMain::makeFontsAhead(QObject *context)
{
    // A fontconfig match for each font and a rasterised glyph for each
    // character at each of a quarter pixel's offsets: most of the first
    // show's paint at full tables. Drawn on an image of the backing store's
    // kind, so that its glyph cache is the one the window's paint uses.
    constexpr int kOffsets = 4;
    auto *timer = new QTimer(context);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, next = 0]() mutable {
        static const QString printable = [] {
            QString s;
            for (char16_t c = u' '; c <= u'~'; ++c)
                s += QChar(c);
            return s;
        }();
        const QFont fonts[] = {sansFont(), sansFont(8.25, true), sansFont(9.75)};
        const QFont &font = fonts[next / kOffsets];
        const QFontMetrics metrics(font);
        QImage image(metrics.horizontalAdvance(printable) + 4, metrics.height() + 2,
                     QImage::Format_RGB32);
        QPainter painter(&image);
        painter.setFont(font);
        painter.drawText(QPointF(1 + double(next % kOffsets) / kOffsets, 1 + metrics.ascent()),
                         printable);
        painter.end();
        if (++next == kOffsets * static_cast<int>(std::size(fonts))) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

void frmMain::buildControls()
{
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->installEventFilter(this);

    // Created bottom first, so that later controls lie on top.
    txtDescription = new QPlainTextEdit(client);
    txtDescription->setObjectName(QStringLiteral("txtDescription"));
    txtDescription->setAccessibleName(tr("Description"));
    txtDescription->setFont(sansFont(9.75));
    txtDescription->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The pane only displays: nothing typed or pasted reaches the text.
    txtDescription->setReadOnly(true);
    txtDescription->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                            Qt::TextSelectableByKeyboard);
    txtDescription->setTabChangesFocus(true);
    txtDescription->setFocusPolicy(Qt::StrongFocus);

    buildList();

    pctMenu = new NavigationPane(client);
    connect(pctMenu, &NavigationPane::itemClicked, this, &frmMain::Image1_Click);

    sepa1 = new SplitterBar(client);
    connect(sepa1, &SplitterBar::pressed, this, &frmMain::sepa1_MouseDown);
    connect(sepa1, &SplitterBar::moved, this, &frmMain::sepa1_MouseMove);
    connect(sepa1, &SplitterBar::released, this, &frmMain::sepa1_MouseUp);

    WebBrowser1 = new PageViewer(client);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kDateCheckMs);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    Timer1->start();

    applyTabOrder();
    applyGeometry();
}

// The list's frame, the painted rows and their scroll bar.
void frmMain::buildList()
{
    pctContainer = new QFrame(client);
    pctContainer->setObjectName(QStringLiteral("pctContainer"));
    pctContainer->setFrameShape(QFrame::Panel);
    pctContainer->setFrameShadow(QFrame::Sunken);
    pctContainer->setLineWidth(2);
    pctContainer->setAutoFillBackground(true);
    QPalette workspace = pctContainer->palette();
    workspace.setColor(QPalette::Window, workspace.color(QPalette::Dark));
    pctContainer->setPalette(workspace);
    // The list and its scroll bar are clipped to the inner area, inside the border.
    m_viewport = new QWidget(pctContainer);
    m_viewport->setObjectName(QStringLiteral("pctContainerArea"));

    lstContainer = new TaskListCanvas(m_viewport);
    lstContainer->installEventFilter(this);
    lstContainer->setRowFiller([this](ListRow &row, const DueFields &due) { fillRow(row, due); });
    vscroll = new QScrollBar(Qt::Vertical, m_viewport);
    vscroll->setObjectName(QStringLiteral("vscroll"));
    // In the tab order, so the list can be scrolled from the keyboard too.
    vscroll->setFocusPolicy(Qt::StrongFocus);
    vscroll->setRange(0, 32767);
    vscroll->setSingleStep(1);
    vscroll->setPageStep(1);
    connect(vscroll, &QScrollBar::valueChanged, this, &frmMain::vscroll_Change);
    connect(lstContainer, &TaskListCanvas::rowPressed, this, &frmMain::rowMouseDown);
    connect(lstContainer, &TaskListCanvas::stepRequested, this, &frmMain::stepSelection);
    connect(lstContainer, &TaskListCanvas::menuRequested, this, &frmMain::showRowMenuFromKeyboard);
    connect(lstContainer, &TaskListCanvas::openRequested, this, &frmMain::openSelectedRow);
    connect(lstContainer, &TaskListCanvas::deleteRequested, this, &frmMain::deleteSelectedRow);
    connect(lstContainer, &TaskListCanvas::selectRequested, this, [this](int row) {
        if (!WebBrowser1->isVisible())
            highlight(static_cast<qint16>(row));
    });
    connect(lstContainer->cmdTitle, &QPushButton::clicked, this, &frmMain::cmdTitle_Click);
    connect(lstContainer->cmdFor, &QPushButton::clicked, this, &frmMain::cmdFor_Click);
    connect(lstContainer->cmdDue, &QPushButton::clicked, this, &frmMain::cmdDue_Click);
}

void frmMain::applyTabOrder()
{
    pctContainer->setFocusPolicy(Qt::NoFocus);
    QWidget::setTabOrder(txtDescription, lstContainer);
    QWidget::setTabOrder(lstContainer, vscroll);
    QWidget::setTabOrder(vscroll, lstContainer->cmdTitle);
    QWidget::setTabOrder(lstContainer->cmdTitle, lstContainer->cmdFor);
    QWidget::setTabOrder(lstContainer->cmdFor, lstContainer->cmdDue);
    QWidget *previous = lstContainer->cmdDue;
    for (QWidget *item : pctMenu->Image1) {
        QWidget::setTabOrder(previous, item);
        previous = item;
    }
    QWidget::setTabOrder(previous, WebBrowser1);
}

void frmMain::buildMenus()
{
    Menu_Tasks = menuBar()->addMenu(tr("&Tasks"));
    menu_new = Menu_Tasks->addAction(tr("&New Task..."), this, &frmMain::new_task);
    menu_modify = Menu_Tasks->addAction(tr("&Edit..."), this, &frmMain::menu_modify_Click);
    menu_delete = Menu_Tasks->addAction(tr("&Delete"), this, &frmMain::deleteTask);
    menu_sep = Menu_Tasks->addSeparator();
    menu_exi = Menu_Tasks->addAction(tr("&Exit"), this, &frmMain::menu_exi_Click);

    menu_options = menuBar()->addMenu(tr("&Options"));
    menu_manage =
        menu_options->addAction(tr("&Colors And Alerts"), this, &frmMain::menu_manage_Click);

    menu_help = menuBar()->addMenu(tr("&Help"));
    menu_about = menu_help->addAction(tr("&About"), this, &frmMain::menu_about_Click);

    // Not on the bar: the rows' context menu.
    menu_short = menuBar()->addMenu(tr("&submenu"));
    menu_short->menuAction()->setVisible(false);
    menu_modify2 = menu_short->addAction(tr("&Edit..."), this, &frmMain::menu_modify2_Click);
    menu_delete2 = menu_short->addAction(tr("&Delete"), this, &frmMain::deleteTask);
    menu_undelete = menu_short->addAction(tr("&Un-Delete"), this, &frmMain::menu_undelete_Click);
    menu_undelete->setVisible(false);

    const std::pair<QObject *, const char *> names[] = {
        {Menu_Tasks, "Menu_Tasks"},     {menu_new, "menu_new"},
        {menu_modify, "menu_modify"},   {menu_delete, "menu_delete"},
        {menu_sep, "menu_sep"},         {menu_exi, "menu_exi"},
        {menu_options, "menu_options"}, {menu_manage, "menu_manage"},
        {menu_help, "menu_help"},       {menu_about, "menu_about"},
        {menu_short, "menu_short"},     {menu_modify2, "menu_modify2"},
        {menu_delete2, "menu_delete2"}, {menu_undelete, "menu_undelete"},
    };
    for (const auto &[object, name] : names)
        object->setObjectName(QString::fromLatin1(name));
}

void frmMain::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    for (size_t i = 0; i < statusPanels.size(); ++i) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(i + 1));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setMinimumWidth(twipsToPixels(1440));
        statusPanels[i] = panel;
    }
    // The first two panels stay empty; a screen reader still meets them.
    statusPanels[0]->setAccessibleName(tr("Status"));
    statusPanels[1]->setAccessibleName(tr("Status details"));
    statusPanels[0]->setFixedWidth(twipsToPixels(1440));
    bar->addPermanentWidget(statusPanels[0], 0);
    bar->addPermanentWidget(statusPanels[1], 1);
    bar->addPermanentWidget(statusPanels[2], 0);
}

void frmMain::load()
{
    m_splitPercent = 50;
    m_showDeleted = false;
    Module1::sortMode = 2;
    loadFile();
    drawList();
}

double frmMain::statusBarTop() const
{
    return pixelsToTwips(statusBar()->geometry().top() - client->geometry().top());
}

double frmMain::outerWidth() const
{
    // Client width plus the frame on both sides.
    return pixelsToTwips(width() + (frameGeometry().width() - geometry().width()));
}

void frmMain::Form_Resize()
{
    FormInputs in;
    in.outerWidth = outerWidth();
    in.statusBarTop = statusBarTop();
    in.splitPercent = m_splitPercent;
    in.taskCount = Module1::taskCount;
    formResize(m_geom, in);
    applyGeometry();
}

void frmMain::applyGeometry()
{
    place(pctMenu, m_geom.pctMenu);
    place(pctContainer, m_geom.pctContainer);
    place(txtDescription, m_geom.txtDescription);
    place(sepa1, m_geom.sepa1);
    place(WebBrowser1, m_geom.webBrowser);
    m_viewport->setGeometry(pctContainer->contentsRect());
    applyListGeometry();
}

void frmMain::applyListGeometry()
{
    place(vscroll, m_geom.vscroll.rect);
    {
        const QSignalBlocker blocker(vscroll);
        vscroll->setMaximum(m_geom.vscroll.maximum);
        vscroll->setValue(m_geom.vscroll.value);
    }
    place(lstContainer, m_geom.lstContainer);
    place(lstContainer->cmdTitle, m_geom.cmdTitle);
    place(lstContainer->cmdFor, m_geom.cmdFor);
    place(lstContainer->cmdDue, m_geom.cmdDue);
    lstContainer->setColumns(m_geom.lblTitle, m_geom.lblFor, m_geom.lblDue, m_geom.cmdFor.height);
}

void frmMain::vscroll_Change(int value)
{
    m_geom.vscroll.value = value;
    m_geom.lstContainer.top = listTopAt(value);
    place(lstContainer, m_geom.lstContainer);
}

void frmMain::sepa1_MouseDown() { m_splitterDragging = true; }

void frmMain::sepa1_MouseMove(double yTwips)
{
    if (!m_splitterDragging)
        return;
    m_geom.sepa1.top += yTwips;
    place(sepa1, m_geom.sepa1);
}

void frmMain::sepa1_MouseUp()
{
    m_splitPercent = splitPercentAt(m_geom.sepa1.top, statusBarTop(), m_splitPercent);
    Form_Resize();
    m_splitterDragging = false;
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == client && event->type() == QEvent::Resize)
        Form_Resize();
    if (watched == lstContainer && event->type() == QEvent::Wheel) {
        // The scroll bar steps one pixel at a time; a wheel notch moves
        // three rows, as lists elsewhere on the desktop do.
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const int rowPixels = twipsToPixels(lstContainer->rowHeight());
        const int notches = wheel->angleDelta().y() / 120;
        if (notches != 0)
            vscroll->setValue(vscroll->value() - notches * 3 * rowPixels);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The start-up window stays hidden, so closing this one ends the program.
    event->accept();
    endProgram();
}

void frmMain::endProgram()
{
    saveWindowGeometry();
    exitProgram();
}

namespace {

// $XDG_CONFIG_HOME/quillet/quillet.conf. Only where the window stands is
// kept: view, sort order and splitter start afresh each time.
QString windowSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quillet/quillet.conf");
}

// Through the store's writer and reader: a link, a FIFO or a folder
// there is neither followed against its owner nor waited on, and a full
// disk keeps the old file.
const QByteArray kGroup = QByteArrayLiteral("mainWindow");
const QByteArray kGeometryKey = QByteArrayLiteral("geometry");

}  // namespace

void frmMain::restoreWindowGeometry()
{
    const std::optional<QByteArray> saved =
        Module1::readSettingsBytes(windowSettingsPath(), kGroup, kGeometryKey);
    // restoreGeometry() brings a window from a screen that is gone back
    // onto one that is there.
    if (saved && !saved->isEmpty())
        restoreGeometry(*saved);
}

void frmMain::saveWindowGeometry()
{
    if (!isVisible())
        return;
    const QString path = windowSettingsPath();
    QDir().mkpath(QFileInfo(path).path());
    // Where the window stood is not worth a message at exit.
    Module1::writeSettingsBytes(path, kGroup, kGeometryKey, saveGeometry());
}

bool frmMain::saveFile()
{
    const Module1::FileStatus status = Module1::saveTasksAndUids();
    reportFileFailure(this, status);
    // The file holds someone else's change: show that instead of ours.
    if (status.code == Module1::FileStatus::ChangedOutside)
        loadFile();
    return status.ok();
}

bool frmMain::loadFile()
{
    // No file yet is an empty list, not an error.
    return !reportFileFailure(this, Module1::loadTasks());
}

bool frmMain::saveAndReload()
{
    // After a failed save the tables keep the change; reading the old file
    // back would throw it away.
    return saveFile() && loadFile();
}
