// The task list: rows, colouring, selection and sorting.
#include "mainwindow/frmmain.h"

#include "common/pageviewer.h"
#include "mainwindow/listsorting.h"
#include "mainwindow/tasklistcanvas.h"
#include "store/store.h"

#include <QMenu>

#include <algorithm>
#include <cstdlib>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

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

// Units left from `now` to `due`; whole days, the unit the program itself
// creates, skip the general date difference, which costs several times more
// and runs rows x rules times on every selection.
qint16 unitsLeft(const QString &unit, Module1::Days now, Module1::Days due)
{
    if (unit.size() == 1 && unit.front() == u'd') {
        const auto days = (due - now).count();
        return static_cast<qint16>(std::clamp<decltype(days)>(days, -32768, 32767));
    }
    return Module1::dateDiff(unit, now, due);
}

}  // namespace

void frmMain::drawList()
{
    using namespace Module1;
    const qint16 remembered = m_selectedTask;
    cleanList();
    sortTasks();
    if (remembered <= taskCount)
        m_selectedTask = remembered;

    const QString at = tr(" at ");
    for (qint16 i = 0; i < taskCount; ++i) {
        Task &task = tasks[static_cast<size_t>(i)];
        if (isDeleted(task) != m_showDeleted)
            continue;
        const QString due = formatDate(task.day, task.month, task.year) + at
                            + longTimeText(task.hour, task.minute, task.second);
        addListTask(task.title, task.forWhom, due, i);
    }

    const double h = lstContainer->rowHeight();
    m_geom.lstContainer.height = (taskCount + 2) * h;
    updateScrollRange(m_geom, false);
    m_geom.lstContainer.height += m_geom.pctContainer.height;
    applyListGeometry();

    if (m_selectedTask > 0) {
        const QString wanted = QString::number(m_selectedTask - 1);
        for (int k = 1; k < lstContainer->elementCount(); ++k) {
            if (lstContainer->row(k).id == wanted)
                highlight(static_cast<qint16>(k));
        }
    }
    lstContainer->update();
    m_drawnOn = today();
}

void frmMain::addListTask(const QString &wtitle, const QString &wfor, const QString &wdue,
                          qint16 id)
{
    const int n = lstContainer->addRow();
    ListRow &row = lstContainer->row(n);
    row.visible = true;
    row.cell(ListColumn::For).caption = wfor;
    row.top = (n - 1) * lstContainer->rowHeight() + m_geom.cmdFor.height;
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
    using namespace Module1;
    if (index < 1 || index >= lstContainer->elementCount())
        return;
    ListRow &row = lstContainer->row(index);
    const int slot = rowSlot(row);
    if (slot < 0)
        return;
    const Task &task = tasks[static_cast<size_t>(slot)];

    qint32 best = 99999;
    for (ListColumn c : kColumns)
        row.cell(c).color = 0;
    const Days due = dateSerial(task.year, task.month, task.day);
    const Days now = today();
    for (qint16 i = 0; i < alertRuleCount; ++i) {
        const AlertRule &rule = alertRules[static_cast<size_t>(i)];
        const qint16 left = unitsLeft(rule.unit, now, due);
        if (rule.interval <= best && left <= rule.interval) {
            best = rule.interval;
            for (ListColumn c : kColumns)
                row.cell(c).color = rule.color;
        }
        // The last rule decides the weight.
        for (ListColumn c : kColumns)
            row.cell(c).bold = left < 1;
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

    for (int k = 1; k < lstContainer->elementCount(); ++k) {
        for (ListColumn c : kColumns)
            lstContainer->row(k).cell(c).opaque = false;
        setColor(static_cast<qint16>(k));
    }
    ListRow &row = lstContainer->row(index);
    for (ListColumn c : kColumns) {
        ListCell &cell = row.cell(c);
        cell.opaque = true;
        cell.backColor = kSelectedBack;
        cell.color = kSelectedText;
    }
    lstContainer->update();

    QString text = Module1::tasks[static_cast<size_t>(slot)].description;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    txtDescription->setPlainText(text);
    lstContainer->setAccessibleDescription(lstContainer->rowAccessibleText(index));
}

void frmMain::rowMouseDown(int row, Qt::MouseButton button, QPoint globalPos)
{
    highlight(static_cast<qint16>(row));
    if (button == Qt::RightButton)
        menu_short->popup(globalPos);
}

int frmMain::highlightedRow() const
{
    for (int k = 1; k < lstContainer->elementCount(); ++k) {
        if (lstContainer->row(k).cell(ListColumn::Title).opaque)
            return k;
    }
    return 0;
}

void frmMain::stepSelection(int step)
{
    const int rows = lstContainer->elementCount() - 1;
    // Behind the alert page the list can keep focus but must not be steered.
    if (rows < 1 || WebBrowser1->isVisible())
        return;
    const int current = highlightedRow();
    int target = 0;
    if (std::abs(step) > rows)  // Home, End
        target = step < 0 ? 1 : rows;
    else if (current == 0)      // no selection yet: Down starts at the top, Up at the bottom
        target = step < 0 ? rows : 1;
    else
        target = std::clamp(current + step, 1, rows);
    highlight(static_cast<qint16>(target));
    // Keep the selected row inside the viewport.
    const QRect cell = lstContainer->cellRect(target, ListColumn::Title);
    const int viewTop = -lstContainer->y();
    const int viewHeight = lstContainer->parentWidget()->height();
    if (cell.top() - lstContainer->cmdFor->height() < viewTop)
        vscroll->setValue(std::max(0, cell.top() - lstContainer->cmdFor->height()));
    else if (cell.bottom() >= viewTop + viewHeight)
        vscroll->setValue(cell.bottom() + 1 - viewHeight);
}

void frmMain::showRowMenuFromKeyboard()
{
    const int k = highlightedRow();
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
