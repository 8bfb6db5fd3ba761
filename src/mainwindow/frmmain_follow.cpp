// The list follows its file: a change from the terminal, a sync tool or a
// hand edit shows without a restart.
#include "mainwindow/frmmain.h"

#include "store/folderwatch.h"
#include "store/store.h"
#include "store/systemtext.h"
#include "store/taskidentity.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

void frmMain::followFile()
{
    if (m_changeWaiting)
        return;
    auto *watch =
        new Module1::FolderWatch(Module1::taskFolderAccessPath(), Module1::taskFileName(), this);
    if (!watch->isValid()) {
        // The list still works; it just does not see outside changes.
        Module1::complain(QStringLiteral("cannot watch %1: %2")
                              .arg(Module1::taskFilePath(), watch->errorString()));
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
    // The window's own save, or a touch: reading it again would only throw
    // away a change a failed save left in the list.
    if (Module1::taskFileAsLastSeen())
        return;
    const std::optional<Module1::Task> selected = selectedRecord();
    const qint16 before = m_selectedTask;
    if (!loadFile())
        return;
    // The file's order may differ from the list's.
    drawListSelecting(selected, before);
}

std::optional<Module1::Task> frmMain::selectedRecord() const
{
    if (m_selectedTask < 1 || m_selectedTask > Module1::taskCount)
        return std::nullopt;
    return Module1::tasks[static_cast<size_t>(m_selectedTask - 1)];
}

void frmMain::drawListSelecting(const std::optional<Module1::Task> &task, qint16 preferred)
{
    qint16 found = 0;
    if (task) {
        // In the order drawList leaves, so that the slot is the one it shows.
        Module1::sortTasks();
        found = static_cast<qint16>(Module1::findSameTask(*task, preferred - 1) + 1);
    }
    m_selectedTask = found;
    if (found == 0)
        txtDescription->clear();
    drawList();
}
