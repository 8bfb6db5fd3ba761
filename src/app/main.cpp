#include "common/messagebox.h"
#include "startup/alertpage.h"
#include "startup/frmstartup.h"
#include "store/ordering.h"
#include "store/tables.h"
#include "store/taskfile.h"

#include <QApplication>
#include <QMainWindow>

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

std::unique_ptr<QMainWindow> makeMainWindow()
{
    auto w = std::make_unique<QMainWindow>();
    w->setWindowTitle(QStringLiteral("Quillet"));
    w->resize(640, 480);
    return w;
}

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
    Module1::sortTasks();
    const PublishedPage page = publishAlertPage();
    if (!page.page.announced && !firstRun)
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));

    std::unique_ptr<QMainWindow> mainWindow;
    const auto showAll = [&mainWindow] {
        if (!mainWindow)
            mainWindow = makeMainWindow();
        mainWindow->show();
        mainWindow->raise();
        mainWindow->activateWindow();
    };

    frmStartup startup;
    startup.adoptPage(page);
    startup.setShowAll(showAll);
    if (firstRun) {
        // A new user: nothing to announce yet, straight to the list.
        showAll();
    } else {
        startup.placeOnScreen();
        startup.loadPageInto(startup.WebBrowser1);
        startup.show();
        startup.activateWindow();
    }
    return app.exec();
}
