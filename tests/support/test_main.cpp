#include "support/testsupport.h"

#include <QApplication>

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
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new WorldReset);
    return RUN_ALL_TESTS();
}
