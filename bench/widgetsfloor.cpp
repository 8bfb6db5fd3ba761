// The floor for the windows' peak memory: a plain Qt Widgets program with a
// menu bar, a status bar and a 1001-row, three-column tree, shown. What Qt
// costs a window program that lists as many tasks as ours.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTreeWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Widgets floor"));
    for (const char *name : {"&Tasks", "&Options", "&Help"})
        window.menuBar()->addMenu(QString::fromLatin1(name))->addAction(QStringLiteral("&Item"));
    window.statusBar()->showMessage(QStringLiteral("Ready"));
    auto *tree = new QTreeWidget;
    tree->setColumnCount(3);
    tree->setHeaderLabels({QStringLiteral("Task"), QStringLiteral("For"), QStringLiteral("Due")});
    QList<QTreeWidgetItem *> rows;
    for (int i = 0; i < 1001; ++i)
        rows.append(new QTreeWidgetItem(
            {QStringLiteral("Task number %1 with a title").arg(i, 4, 10, QLatin1Char('0')),
             QStringLiteral("Person %1").arg(i % 37), QStringLiteral("12/8/2026 10:00 AM")}));
    tree->addTopLevelItems(rows);
    window.setCentralWidget(tree);
    window.resize(800, 600);
    window.show();
    return app.exec();
}
