// The list follows its file: a change from the terminal, a sync tool or a
// hand edit shows without a restart.
#include "mainwindow/frmmain.h"

#include "store/folderwatch.h"
#include "store/store.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdio>

void frmMain::followFile()
{
    if (m_changeWaiting)
        return;
    auto *watch = new Module1::FolderWatch(Module1::taskFolderAccessPath(),
                                           Module1::taskFileName(), this);
    if (!watch->isValid()) {
        // The list still works; it just does not see outside changes.
        std::fprintf(stderr, "quillet: cannot watch %s: %s\n",
                     qPrintable(Module1::taskFilePath()), qPrintable(watch->errorString()));
        return;
    }
    // While an editor or a question is open it owns the tables; its own
    // save finds the change and reads the file. Looked at again shortly.
    m_changeWaiting = new QTimer(this);
    m_changeWaiting->setSingleShot(true);
    m_changeWaiting->setInterval(200);
    connect(m_changeWaiting, &QTimer::timeout, this, &frmMain::readOutsideChange);
    connect(watch, &Module1::FolderWatch::changed, this, [this, watch] {
        watch->followLink();
        readOutsideChange();
    });
}

void frmMain::readOutsideChange()
{
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget() ||
        m_timerHolds > 0) {
        m_changeWaiting->start();
        return;
    }
    using namespace Module1;
    std::optional<Task> selected;
    const qint16 before = m_selectedTask;
    if (before > 0 && before <= taskCount)
        selected = tasks[static_cast<size_t>(before - 1)];
    if (!loadFile())
        return;
    // The same task by what it holds, in its old slot when that still
    // holds it: the file's order may differ from the list's.
    const auto sameTask = [&](const Task &t) {
        return t.title == selected->title && t.forWhom == selected->forWhom &&
               t.year == selected->year && t.month == selected->month && t.day == selected->day &&
               t.hour == selected->hour && t.minute == selected->minute &&
               t.second == selected->second && t.description == selected->description &&
               t.deleted == selected->deleted;
    };
    qint16 found = 0;
    if (selected) {
        sortTasks();
        if (before <= taskCount && sameTask(tasks[static_cast<size_t>(before - 1)]))
            found = before;
        for (qint16 i = 0; i < taskCount && found == 0; ++i) {
            if (sameTask(tasks[static_cast<size_t>(i)]))
                found = static_cast<qint16>(i + 1);
        }
    }
    m_selectedTask = found;
    if (found == 0)
        txtDescription->clear();
    drawList();
}
