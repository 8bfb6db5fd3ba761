#pragma once

#include <QApplication>

#include <benchmark/benchmark.h>

// main() of a bench of windows: on the offscreen platform unless another is
// asked for; `dropWindows` closes what the benchmarks made while the
// application still stands.
template <typename DropWindows>
int runWidgetBenchmarks(int argc, char **argv, DropWindows dropWindows)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    dropWindows();
    return 0;
}
