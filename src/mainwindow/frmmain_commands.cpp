// The task commands behind the menus and the rows' context menu.
#include "mainwindow/frmmain.h"

#include "common/messagebox.h"
#include "store/store.h"

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

// Keeps the list from redrawing while a command or its dialog runs: a
// redraw sorts the table under the task number the dialog is editing.
class frmMain::TimerHold {
public:
    explicit TimerHold(frmMain &window) : m_window(window)
    {
        if (m_window.m_timerHolds++ == 0)
            m_window.Timer1->stop();
    }
    ~TimerHold()
    {
        if (--m_window.m_timerHolds == 0)
            m_window.Timer1->start();
    }
    TimerHold(const TimerHold &) = delete;
    TimerHold &operator=(const TimerHold &) = delete;

private:
    frmMain &m_window;
};

void frmMain::new_task()
{
    using namespace Module1;
    const TimerHold hold(*this);
    if (taskCount >= kTaskSlots) {
        MessageBox::information(
            this, tr("Quillet"),
            tr("The task list is full: it holds %1 tasks, the most it can keep.\r\n"
               "Delete a recycled task for good to make room.")
                .arg(kTaskSlots));
        return;
    }
    ++taskCount;
    // The slot may hold a task deleted for good; the new task is current.
    Task &task = tasks[static_cast<size_t>(taskCount - 1)];
    if (isDeleted(task))
        task.deleted = QStringLiteral("N");
    if (m_hooks.showTaskEditor)
        editTask(taskCount);
    else
        loadFile();
}

void frmMain::menu_modify_Click()
{
    if (m_selectedTask < 1)
        return;
    const TimerHold hold(*this);
    editTask(m_selectedTask);
}

void frmMain::menu_modify2_Click()
{
    const TimerHold hold(*this);
    // Only reached after a row was selected; task 0 has no slot.
    if (m_selectedTask < 1)
        return;
    editTask(m_selectedTask);
}

void frmMain::editTask(qint16 number)
{
    if (!m_hooks.showTaskEditor)
        return;
    // new_task passes the count it has just raised, which no row names.
    const bool editsSelected = number == m_selectedTask;
    const std::optional<Module1::Task> before = selectedRecord();
    const qint16 beforeNumber = m_selectedTask;
    const QString pane = txtDescription->toPlainText();
    const TaskEditorResult result = m_hooks.showTaskEditor(number);
    // A save of the list as it was: the editor redrew it.
    if (result.saved && !result.readAgain)
        return;
    // Otherwise the tables were read from the file, which may have changed
    // meanwhile: the selection stays on its task, found by what it holds,
    // never by a slot that may now hold another. An edited task is the
    // selected one, as saved.
    if (result.saved && editsSelected) {
        drawListSelecting(result.saved);
    } else {
        drawListSelecting(before, beforeNumber);
        // A cancel changed nothing the user sees: the pane stays as it was.
        if (!result.saved && !result.readAgain)
            txtDescription->setPlainText(pane);
    }
}

void frmMain::deleteTask()
{
    using namespace Module1;
    const TimerHold hold(*this);
    const qint16 n = m_selectedTask;
    bool saved = true;
    if (n > 0 && n <= taskCount) {
        Task &task = tasks[static_cast<size_t>(n - 1)];
        const QString text = isDeleted(task)
                                 ? tr("Are you sure? This will delete the item, permanently!!!")
                                 : tr("Are you sure?");
        if (MessageBox::question(this, tr("Delete this entry?!"), text) == QMessageBox::Yes) {
            cleanList();
            if (!isDeleted(task)) {
                task.deleted = QStringLiteral("Y");
            } else {
                for (int k = n; k <= taskCount - 1; ++k)
                    tasks[static_cast<size_t>(k - 1)] = tasks[static_cast<size_t>(k)];
                --taskCount;
            }
            saved = saveAndReload();
            drawList();
        }
    }
    // One message is enough when the save above already failed.
    if (saved)
        saveAndReload();
}

void frmMain::menu_undelete_Click()
{
    using namespace Module1;
    const TimerHold hold(*this);
    const qint16 n = m_selectedTask;
    if (n <= 0 || n > taskCount)
        return;
    cleanList();
    tasks[static_cast<size_t>(n - 1)].deleted = QStringLiteral("N");
    saveAndReload();
    drawList();
}

void frmMain::menu_manage_Click()
{
    const TimerHold hold(*this);
    if (m_hooks.showRuleEditor)
        m_hooks.showRuleEditor();
}

void frmMain::menu_about_Click()
{
    const QStringList lines{tr("Quillet Beta version 0.22"), tr("Authors:"),
                            tr("The Quillet developers"), tr("and its contributors")};
    MessageBox::information(this, tr("About..."), lines.join(QLatin1String("\r\n")));
}

void frmMain::menu_exi_Click() { endProgram(); }
