// A 4 MB paste into the task editor's boxes, cut to what a line edit takes.
#include "widgetbench.h"

#include "dialogs/dialogsupport.h"
#include "dialogs/frmtask.h"
#include "store/store.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct Editor {
    QTemporaryDir dir;
    frmTask dialog;
    Editor()
    {
        QDir::setCurrent(dir.path());
        Module1::resetTables();
        Module1::taskCount = 1;
        dialog.prepare(1);
        dialog.show();
    }
};

// Made on first use and gone before the application object is.
std::unique_ptr<Editor> g_editor;
Editor &editor()
{
    if (!g_editor)
        g_editor = std::make_unique<Editor>();
    return *g_editor;
}

// state.range(0): 0 unbroken, 1 in lines of 80 characters.
void putOnClipboard(const benchmark::State &state)
{
    QString text(4 << 20, QLatin1Char('x'));
    for (qsizetype i = 80; state.range(0) == 1 && i < text.size(); i += 81)
        text[i] = QLatin1Char('\n');
    QApplication::clipboard()->setText(text);
}

void BM_pasteTitle(benchmark::State &state)
{
    QLineEdit *box = editor().dialog.txtTitle;
    putOnClipboard(state);
    for (auto _ : state) {
        box->selectAll();
        box->paste();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_pasteTitle)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_pasteDescription(benchmark::State &state)
{
    dialogsupport::LimitedTextEdit *box = editor().dialog.txtDescript;
    putOnClipboard(state);
    for (auto _ : state) {
        box->selectAll();
        box->paste();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_pasteDescription)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    return runWidgetBenchmarks(argc, argv, [] { g_editor.reset(); });
}
