// The task list: rows, colouring, selection and sorting.
#include "mainwindow/frmmain.h"

#include "mainwindow/listsorting.h"
#include "mainwindow/tasklistcanvas.h"
#include "page/pageviewer.h"
#include "store/store.h"
#include "store/taskidentity.h"

#include <QLabel>
#include <QMenu>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr qint32 kSelectedBack = 100 << 16;  // red 0, green 0, blue 100
constexpr qint32 kSelectedText = 0xFFFFFF;
constexpr std::array kColumns{ListColumn::For, ListColumn::Title, ListColumn::Due};

// The slot a row names, or -1 when its text names none.
int rowSlot(const ListRow &row)
{
    bool ok = false;
    const int slot = row.id.toInt(&ok);
    return ok && slot >= 0 && slot < Module1::kTaskSlots ? slot : -1;
}

}  // namespace

void frmMain::drawList()
{
    using namespace Module1;
    const qint16 remembered = m_selectedTask;
    // One day for every row of this redraw, read once.
    const Days now = today();
    m_redrawDay = now;
    cleanList();
    sortTasks();
    if (remembered <= taskCount)
        m_selectedTask = remembered;

    m_listDay = now;
    for (qint16 i = 0; i < taskCount; ++i) {
        Task &task = tasks[static_cast<size_t>(i)];
        if (isDeleted(task) != m_showDeleted)
            continue;
        // The row's due text and colours wait until it is read or painted,
        // or the slices after the first paint (addListTask's row, made
        // later from the fields the task has now); the one change the due
        // text makes to the task is made now.
        if (task.month == 0)
            task.month = 1;
        const int n = lstContainer->addRow();
        ListRow &row = lstContainer->row(n);
        row.visible = true;
        row.cell(ListColumn::For).caption = task.forWhom;
        row.top = lstContainer->rowTop(n);
        row.cell(ListColumn::Title).caption = task.title;
        row.id = QString::number(i);
        lstContainer->setPending(
            n, DueFields{task.year, task.month, task.day, task.hour, task.minute, task.second});
    }

    fitListHeight(m_geom, taskCount, false);
    applyListGeometry();

    if (m_selectedTask > 0) {
        const QString wanted = QString::number(m_selectedTask - 1);
        bool listed = false;
        for (int k = 1; k < lstContainer->elementCount(); ++k) {
            if (lstContainer->rowId(k) == wanted) {
                highlight(static_cast<qint16>(k));
                listed = true;
            }
        }
        // The slot may now hold a task of the other view: a command must
        // never act on a task the user cannot see.
        if (!listed) {
            m_selectedTask = 0;
            txtDescription->clear();
        }
    }
    lstContainer->update();
    m_redrawDay.reset();
    // The date panel follows the rows: after midnight both show the new day.
    if (m_drawnOn != now) {
        m_drawnOn = now;
        statusPanels[2]->setText(shortDateText(m_drawnOn));
        // A named label offers screen readers its name only: the date goes in.
        statusPanels[2]->setAccessibleName(tr("Date: %1").arg(statusPanels[2]->text()));
    }
}

void frmMain::addListTask(const QString &wtitle, const QString &wfor, const QString &wdue,
                          qint16 id)
{
    const int n = lstContainer->addRow();
    ListRow &row = lstContainer->row(n);
    row.visible = true;
    row.cell(ListColumn::For).caption = wfor;
    row.top = lstContainer->rowTop(n);
    row.cell(ListColumn::Due).caption = wdue;
    row.cell(ListColumn::Title).caption = wtitle;
    row.id = QString::number(id);
    setColor(static_cast<qint16>(n));
}

void frmMain::cleanList()
{
    m_selectedTask = 0;
    lstContainer->removeRows();
}

void frmMain::setColor(qint16 index)
{
    if (index < 1 || index >= lstContainer->elementCount())
        return;
    ListRow &row = lstContainer->row(index);
    const int slot = rowSlot(row);
    if (slot < 0)
        return;
    colorRow(row, Module1::tasks[static_cast<size_t>(slot)],
             m_redrawDay ? *m_redrawDay : Module1::today());
}

void frmMain::fillRow(ListRow &row, const DueFields &due)
{
    Module1::Task task;
    task.year = due.year;
    task.month = due.month;
    task.day = due.day;
    task.hour = due.hour;
    task.minute = due.minute;
    task.second = due.second;
    row.cell(ListColumn::Due).caption = Module1::dueMomentText(task);
    colorRow(row, task, m_listDay);
}

void frmMain::colorRow(ListRow &row, const Module1::Task &task, std::chrono::sys_days day)
{
    const Module1::RuleMatch match = Module1::matchRules(task, day);
    for (ListColumn c : kColumns) {
        ListCell &cell = row.cell(c);
        cell.color = match.color;
        cell.themeText = !match.colored;
        // Without rules the weight stays as it was.
        cell.bold = match.bold.value_or(cell.bold);
    }
}

void frmMain::highlight(qint16 index)
{
    if (index < 1 || index >= lstContainer->elementCount())
        return;
    const int slot = rowSlot(lstContainer->row(index));
    if (slot < 0)
        return;
    m_selectedTask = static_cast<qint16>(slot + 1);

    // Only the row drawn selected so far is opaque: it alone takes its own
    // colours back, and only the two rows are painted again.
    const int previous = lstContainer->selectedRow();
    for (const int k : {previous, int(index)}) {
        if (k < 1 || k >= lstContainer->elementCount())
            continue;
        for (ListColumn c : kColumns)
            lstContainer->row(k).cell(c).opaque = false;
        setColor(static_cast<qint16>(k));
        lstContainer->updateRow(k);
    }
    lstContainer->setSelectedRow(index);
    ListRow &row = lstContainer->row(index);
    for (ListColumn c : kColumns) {
        ListCell &cell = row.cell(c);
        cell.opaque = true;
        cell.backColor = kSelectedBack;
        cell.color = kSelectedText;
    }

    QString text = Module1::tasks[static_cast<size_t>(slot)].description;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    txtDescription->setPlainText(text);
}

void frmMain::rowMouseDown(int row, Qt::MouseButton button, QPoint globalPos)
{
    highlight(static_cast<qint16>(row));
    if (button == Qt::RightButton)
        menu_short->popup(globalPos);
}

void frmMain::stepSelection(int step)
{
    const int rows = lstContainer->elementCount() - 1;
    // Behind the alert page the list can keep focus but must not be steered.
    if (rows < 1 || WebBrowser1->isVisible())
        return;
    const int current = lstContainer->selectedRow();
    int target = 0;
    if (std::abs(step) > rows)  // Home, End
        target = step < 0 ? 1 : rows;
    else if (current == 0)  // no selection yet: Down starts at the top, Up at the bottom
        target = step < 0 ? rows : 1;
    else
        target = std::clamp(current + step, 1, rows);
    highlight(static_cast<qint16>(target));
    scrollToRow(target);
}

void frmMain::scrollToRow(int row)
{
    // Keep the row inside the viewport, below the column headers.
    const QRect cell = lstContainer->cellRect(row, ListColumn::Title);
    const int viewTop = -lstContainer->y();
    const int viewHeight = lstContainer->parentWidget()->height();
    if (cell.top() - lstContainer->cmdFor->height() < viewTop)
        vscroll->setValue(std::max(0, cell.top() - lstContainer->cmdFor->height()));
    else if (cell.bottom() >= viewTop + viewHeight)
        vscroll->setValue(cell.bottom() + 1 - viewHeight);
}

bool frmMain::showTask(const QByteArray &key)
{
    // The current tasks, as the navigation pane's "All tasks" shows them:
    // a redraw sorts the tables, so the task is looked for after it.
    if (WebBrowser1->isVisible() || m_showDeleted)
        Image1_Click(1);
    const int slot = Module1::findTask(key);
    if (slot < 0)
        return false;
    const QString id = QString::number(slot);
    for (int k = 1; k < lstContainer->elementCount(); ++k) {
        if (lstContainer->rowId(k) == id) {
            highlight(static_cast<qint16>(k));
            scrollToRow(k);
            return true;
        }
    }
    return false;
}

void frmMain::openSelectedRow()
{
    if (lstContainer->selectedRow() >= 1 && !WebBrowser1->isVisible())
        menu_modify2_Click();
}

void frmMain::deleteSelectedRow()
{
    // Without a selection "&Delete" would only rewrite the file.
    if (lstContainer->selectedRow() >= 1 && !WebBrowser1->isVisible())
        deleteTask();
}

void frmMain::showRowMenuFromKeyboard()
{
    const int k = lstContainer->selectedRow();
    if (k < 1 || WebBrowser1->isVisible())
        return;
    const QRect cell = lstContainer->cellRect(k, ListColumn::Title);
    menu_short->popup(lstContainer->mapToGlobal(cell.bottomLeft()));
}

void frmMain::sortBy(qint16 ascending, qint16 descending)
{
    Module1::sortMode = nextSortMode(Module1::sortMode, ascending, descending);
    drawList();
}

void frmMain::cmdTitle_Click() { sortBy(0, 10); }
void frmMain::cmdFor_Click() { sortBy(1, 11); }
void frmMain::cmdDue_Click() { sortBy(2, 12); }
