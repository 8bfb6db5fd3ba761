#include "common/messagebox.h"
#include "common/pageviewer.h"
#include "dialogs/frmalerts.h"
#include "dialogs/frmtask.h"
#include "mainwindow/frmmain.h"
#include "startup/alertpage.h"
#include "startup/frmstartup.h"
#include "store/tables.h"
#include "store/taskfile.h"

#include <QApplication>

#include <cstdio>
#include <memory>

namespace {

// Without any display a message box cannot appear; QApplication would abort.
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// The windows show the page from memory, so a page file that could not be
// written costs only its readers outside the program: said on stderr.
void reportPageFile(const Module1::FileStatus &file)
{
    if (!file.ok())
        std::fprintf(stderr, "quillet: %s\n", qPrintable(file.error));
}

int refuseFile(int argc, char **argv, const QString &reason)
{
    // Also on stderr: started from a terminal, or with no display at all.
    std::fprintf(stderr, "quillet: %s\n", qPrintable(reason));
    if (displayAvailable()) {
        QApplication app(argc, argv);
        MessageBox::error(nullptr, QStringLiteral("Quillet"), reason);
    }
    return 1;
}

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
            hooks.showTaskEditor = [this](qint16 n) { showTaskEditor(n); };
            hooks.showRuleEditor = [this] { showRuleEditor(); };
            hooks.showAlertPage = [this](PageViewer *browser) {
                startup.makepage();
                reportPageFile(startup.lastPage().file);
                startup.loadPageInto(browser);
            };
            main = std::make_unique<frmMain>(std::move(hooks));
        }
        main->show();
        main->raise();
        main->activateWindow();
    }

    frmStartup startup;

private:
    void showTaskEditor(qint16 n)
    {
        if (!task) {
            task = new frmTask(main.get());
            task->setOnSaved([this] { main->drawList(); });
        }
        task->prepare(n);
        task->exec();
        // Cancel reads the file back in its own order: redraw, so that the
        // rows and the selection name the slots the tasks now hold and the
        // next command acts on the task the user sees selected.
        if (task->selected == -1)
            main->drawList();
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
    // Decide before touching the display: most starts announce nothing and
    // must end without a window.
    Module1::sortMode = 2;
    const Module1::FileStatus status = Module1::loadTasks();
    const bool firstRun = status.code == Module1::FileStatus::Missing;
    if (!status.ok() && !firstRun)
        return refuseFile(argc, argv, status.error);
    // The page sorts the table by due date itself.
    const PublishedPage page = publishAlertPage();
    reportPageFile(page.file);
    if (!page.page.announced && !firstRun)
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));

    Windows windows;
    windows.startup.adoptPage(page);
    if (firstRun) {
        // A new user: nothing to announce yet, straight to the list.
        windows.showMain();
    } else {
        windows.startup.placeOnScreen();
        windows.startup.loadPageInto(windows.startup.WebBrowser1);
        windows.startup.show();
        windows.startup.activateWindow();
    }
    return app.exec();
}
