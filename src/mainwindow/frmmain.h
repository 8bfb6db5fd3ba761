#pragma once

#include "mainwindow/formlayout.h"
#include "store/tables.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMainWindow>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QScrollBar;
class QTimer;
class NavigationPane;
class PageViewer;
class SplitterBar;
class TaskListCanvas;
struct DueFields;
struct ListRow;

// What a showing of the task editor did, as far as the list cares.
struct TaskEditorResult {
    // What the task "&Ok" saved holds; nothing when the editor saved nothing.
    std::optional<Module1::Task> saved;
    // The editor read the task file again, changed outside meanwhile: the
    // tables' slots are no longer those the rows name.
    bool readAgain = false;
};

// What the main window needs from the dialogs and the alert page; the
// program wires these, tests pass fakes.
struct frmMainHooks {
    std::function<TaskEditorResult(qint16 taskNumber)>
        showTaskEditor;                    // prepare + modal exec of the task editor
    std::function<void()> showRuleEditor;  // drawAlert(0) + modal exec of the rule editor
    std::function<void(PageViewer *browser)>
        showAlertPage;  // rewrites the page and shows it in browser
};

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(frmMainHooks hooks = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    // Makes this window's fonts and the glyphs of its rows while another
    // window is only read, a font a turn of the event loop, so that the
    // first show finds them made. Stops with `context`.
    static void makeFontsAhead(QObject *context);

    // The list.
    void drawList();
    void addListTask(const QString &wtitle, const QString &wfor, const QString &wdue, qint16 id);
    void cleanList();
    void highlight(qint16 index);
    void setColor(qint16 index);

    // Layout; also run when the splitter is released.
    void Form_Resize();

    // Commands.
    void new_task();
    void deleteTask();
    void menu_modify_Click();
    void menu_modify2_Click();
    void menu_undelete_Click();
    void menu_manage_Click();
    void menu_about_Click();
    void menu_exi_Click();

    // Navigation, sorting, scrolling, timer.
    void Image1_Click(int index);
    void cmdTitle_Click();
    void cmdFor_Click();
    void cmdDue_Click();
    void vscroll_Change(int value);
    void Timer1_Timer();

    // State.
    qint16 selectedTask() const { return m_selectedTask; }
    // Shows the current tasks with the task of that key (store/taskidentity.h)
    // selected and scrolled into view; false when no current task has it.
    bool showTask(const QByteArray &key);
    bool showDeleted() const { return m_showDeleted; }
    qint16 splitPercent() const { return m_splitPercent; }
    bool splitterDragging() const { return m_splitterDragging; }
    const FormGeometry &geometryTwips() const { return m_geom; }

    // Controls, by their design names.
    QWidget *client = nullptr;
    NavigationPane *pctMenu = nullptr;
    QFrame *pctContainer = nullptr;
    TaskListCanvas *lstContainer = nullptr;
    QScrollBar *vscroll = nullptr;
    QPlainTextEdit *txtDescription = nullptr;
    SplitterBar *sepa1 = nullptr;
    PageViewer *WebBrowser1 = nullptr;
    std::array<QLabel *, 3> statusPanels{};
    QTimer *Timer1 = nullptr;

    QMenu *Menu_Tasks = nullptr;
    QAction *menu_new = nullptr;
    QAction *menu_modify = nullptr;
    QAction *menu_delete = nullptr;
    QAction *menu_sep = nullptr;
    QAction *menu_exi = nullptr;
    QMenu *menu_options = nullptr;
    QAction *menu_manage = nullptr;
    QMenu *menu_help = nullptr;
    QAction *menu_about = nullptr;
    QMenu *menu_short = nullptr;
    QAction *menu_modify2 = nullptr;
    QAction *menu_delete2 = nullptr;
    QAction *menu_undelete = nullptr;

    // Reads the task file again whenever something else changes it, while
    // no editor or question is open; the selection stays on its task.
    void followFile();
    // What followFile does on a change.
    void readOutsideChange();

    // Ends the program; tests replace it, since ending the event loop
    // would stop every later nested loop of the test run.
    std::function<void()> exitProgram = [] { QCoreApplication::exit(0); };

    // Splitter events, with the pointer in twips from the bar's top edge.
    void sepa1_MouseDown();
    void sepa1_MouseMove(double yTwips);
    void sepa1_MouseUp();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class TimerHold;

    void buildControls();
    void buildList();
    void applyTabOrder();
    void restoreWindowGeometry();
    void saveWindowGeometry();
    // Keeps where the window stands, then ends the program.
    void endProgram();
    void buildMenus();
    void buildStatusBar();
    void load();
    void applyGeometry();
    void applyListGeometry();
    void rowMouseDown(int row, Qt::MouseButton button, QPoint globalPos);
    // A row's due text and colours, from the due fields the redraw saw.
    void fillRow(ListRow &row, const DueFields &due);
    void colorRow(ListRow &row, const Module1::Task &task, std::chrono::sys_days day);
    void sortBy(qint16 ascending, qint16 descending);
    void stepSelection(int step);
    void scrollToRow(int row);
    void showRowMenuFromKeyboard();
    void openSelectedRow();
    void deleteSelectedRow();
    void showListView(bool deleted);
    // Opens the task editor on task `number` and puts the selection where
    // the user expects it afterwards.
    void editTask(qint16 number);
    // The selected task's record, to find it again once the tables change.
    std::optional<Module1::Task> selectedRecord() const;
    // drawList with the selection on the task that holds what `task` holds,
    // in slot `preferred` - 1 when that slot still holds it (the tables may
    // have been read again in another order); none when no task does.
    void drawListSelecting(const std::optional<Module1::Task> &task, qint16 preferred = 0);
    double statusBarTop() const;
    double outerWidth() const;
    // Save or load with one message box on failure.
    bool saveFile();
    bool loadFile();
    bool saveAndReload();

    frmMainHooks m_hooks;
    FormGeometry m_geom;
    QWidget *m_viewport = nullptr;  // pctContainer's inner area
    qint16 m_selectedTask = 0;
    bool m_showDeleted = false;
    qint16 m_splitPercent = 50;
    bool m_splitterDragging = false;
    int m_timerHolds = 0;
    std::chrono::sys_days m_drawnOn{};
    std::optional<std::chrono::sys_days> m_redrawDay;  // while drawList colours the rows
    std::chrono::sys_days m_listDay{};                 // the day the rows are coloured for
    QTimer *m_changeWaiting = nullptr;                 // a change seen while a dialog was open
};
