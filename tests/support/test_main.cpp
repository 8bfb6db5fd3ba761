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
    // Widget tests never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A runtime folder of this process alone: tests that plant links or open
    // the alert page's folder to others must not meet another test process
    // or the user's own copy of the program.
    QTemporaryDir runtime;
    if (runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new WorldReset);
    return RUN_ALL_TESTS();
}
