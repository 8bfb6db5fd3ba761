#include "support/testsupport.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class WorldReset : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo &) override { testsupport::resetWorld(); }
};

}  // namespace

int main(int argc, char **argv)
{
    // Widget tests never need a display. The screen is wider than it is
    // tall, as most are, so that a mixed-up width and height shows.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" QUILLET_TEST_DATA_DIR "/offscreen-screen.json");
    // A runtime folder of this process alone: tests that plant links or open
    // the alert page's folder to others must not meet another test process
    // or the user's own copy of the program.
    QTemporaryDir runtime;
    if (runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    // Likewise the settings the main window keeps between runs.
    QTemporaryDir config;
    if (config.isValid())
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    // And the user's own task list, which a program started outside a
    // folder with a list opens.
    QTemporaryDir data;
    if (data.isValid())
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new WorldReset);
    return RUN_ALL_TESTS();
}
