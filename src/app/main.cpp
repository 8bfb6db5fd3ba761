#include "app/commandline.h"
#include "app/display.h"
#include "app/singlecopy.h"
#include "app/startplan.h"
#include "app/terminalcommands.h"
#include "common/filereport.h"
#include "common/icons.h"
#include "common/messagebox.h"
#include "dialogs/frmalerts.h"
#include "dialogs/frmtask.h"
#include "mainwindow/frmmain.h"
#include "page/alertpage.h"
#include "page/pageviewer.h"
#include "startup/frmstartup.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "store/taskidentity.h"

#include <QApplication>
#include <QPushButton>

#include <memory>
#include <optional>

#include <malloc.h>

namespace {

// The windows of one run. The main window and the dialogs are made on
// first use; the dialogs are then only hidden and shown again.
class Windows {
public:
    Windows()
    {
        startup.setShowAll([this] { showMain(); });
    }

    void showMain()
    {
        if (!main) {
            frmMainHooks hooks;
            hooks.showTaskEditor = [this](qint16 n) { return showTaskEditor(n); };
            hooks.showRuleEditor = [this] { showRuleEditor(); };
            hooks.showAlertPage = [this](PageViewer *browser) {
                startup.makepage();
                reportPageFile(startup.lastPage().file);
                startup.loadPageInto(browser);
            };
            main = std::make_unique<frmMain>(std::move(hooks));
            main->followFile();
        }
        main->setWindowState(main->windowState() & ~Qt::WindowMinimized);
        main->show();
        main->raise();
        main->activateWindow();
    }

    // Another start in this folder handed over: the list, as "&Show all..."
    // would open it.
    void showAllForAnotherStart()
    {
        if (startup.isVisible())
            startup.cmdShowAll->click();
        else
            showMain();
    }

    // A reminder clicked: the list with its task selected.
    void showTask(const QByteArray &key)
    {
        showAllForAnotherStart();
        if (main)
            main->showTask(key);
    }

    frmStartup startup;

private:
    TaskEditorResult showTaskEditor(qint16 n)
    {
        if (!task) {
            task = new frmTask(main.get());
            task->setOnSaved([this] { main->drawList(); });
        }
        // The edit commands pass the selected task; new_task the count it
        // has just raised, which no row can be selected at. After the
        // editor, the main window redraws what a cancel or a file changed
        // outside read back.
        task->prepare(n, n != main->selectedTask());
        task->exec();
        return {task->savedTask(), task->readAgain()};
    }

    void showRuleEditor()
    {
        if (!alerts) {
            alerts = new frmAlerts(main.get());
            alerts->setOnSaved([this] {
                rulesSaved = true;
                main->drawList();
            });
        }
        rulesSaved = false;
        alerts->drawAlert(0);
        alerts->exec();
        // As for the task editor: a cancel reloaded the table in file order.
        if (!rulesSaved)
            main->drawList();
    }

    std::unique_ptr<frmMain> main;
    frmTask *task = nullptr;      // owned by main
    frmAlerts *alerts = nullptr;  // owned by main
    bool rulesSaved = false;
};

}  // namespace

int main(int argc, char **argv)
{
    // A fixed threshold: glibc raises it to the size of the start's largest
    // freed buffer (the page, its UTF-8 copy), and the windows' later
    // allocations of that size would then stay in the heap's holes.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    StartOptions options;
    if (const std::optional<int> code = beginProgram(argc, argv, &options))
        return *code;
    // The main window reads the list again a moment later: unchanged, it
    // takes these tables instead of parsing the file twice.
    Module1::keepTablesForNextLoad();
    const StartPlan plan = planStart(options, displayAvailable());
    if (plan.next == StartPlan::End) {
        reportRefusal(plan);
        return plan.exitCode;
    }
    // Task bars match the windows to the installed launcher and its icon:
    // the name is the X11 class (the entry's StartupWMClass), the desktop
    // file name the Wayland app id. Every window sets its own title.
    QApplication::setApplicationName(QStringLiteral("quillet"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillet"));
    if (plan.next == StartPlan::Refuse) {
        reportRefusal(plan);
        QApplication app(argc, argv);
        reportFileFailure(nullptr, plan.status);
        return plan.exitCode;
    }

    QApplication app(argc, argv);
    QApplication::setWindowIcon(icons::programIcon());
    // Through the held folder: the lock lies beside the file that was read,
    // whatever the folder is named now.
    SingleCopy copy(Module1::taskFolderAccessPath() + QLatin1Char('/') + Module1::taskFileName());
    // The reminder names the task of a notification that was clicked.
    QByteArray task = qgetenv("QUILLET_SELECT_TASK");
    qunsetenv("QUILLET_SELECT_TASK");
    if (!Module1::isTaskKey(task))
        task.clear();
    copy.askToShowTask(task);
    switch (copy.claim()) {
    case SingleCopy::Claim::Ours: break;
    case SingleCopy::Claim::HandedOver: return 0;
    case SingleCopy::Claim::NoAnswer:
        MessageBox::error(nullptr, QStringLiteral("Quillet"),
                          QStringLiteral("Quillet is already open on %1 and does not answer. "
                                         "It was not opened a second time, so that no change "
                                         "is lost.")
                              .arg(Module1::taskFilePath()));
        return 1;
    case SingleCopy::Claim::Unreachable:
        MessageBox::error(nullptr, QStringLiteral("Quillet"),
                          QStringLiteral("Quillet is already open on %1%2, but it cannot be "
                                         "brought to the front from here: switch to its "
                                         "window. It was not opened a second time, so that "
                                         "no change is lost.")
                              .arg(Module1::taskFilePath(),
                                   copy.holder() > 0
                                       ? QStringLiteral(" (process %1)").arg(copy.holder())
                                       : QString()));
        return 1;
    }
    // Said where a terminal shows it; a later start says it in a box.
    if (!copy.listenError().isEmpty())
        Module1::complain(QStringLiteral("later starts in this folder cannot reach this copy: ") +
                          copy.listenError());

    Windows windows;
    copy.onShowAll([&windows] { windows.showAllForAnotherStart(); });
    copy.onShowTask([&windows](const QByteArray &key) { windows.showTask(key); });
    windows.startup.adoptPage(plan.page);
    if (plan.next == StartPlan::ShowList) {
        // A new user, or a start that asked for the list: straight to it.
        windows.showMain();
        if (!task.isEmpty())
            windows.showTask(task);
    } else {
        windows.startup.placeOnScreen();
        windows.startup.loadPageInto(windows.startup.WebBrowser1);
        windows.startup.show();
        windows.startup.activateWindow();
        // What "&Show all..." needs, made while the page is read.
        icons::loadImageFormatsAside();
        frmMain::makeFontsAhead(&windows.startup);
    }
    return app.exec();
}
