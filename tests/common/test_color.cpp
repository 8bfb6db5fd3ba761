#include "common/color.h"

#include <gtest/gtest.h>

namespace {

TEST(Color, ValuesKeepRedInTheLowByte)
{
    struct Case {
        qint32 value;
        QColor color;
    };
    const Case cases[] = {{0, QColor(0, 0, 0)},
                          {255, QColor(255, 0, 0)},
                          {65280, QColor(0, 255, 0)},
                          {16711680, QColor(0, 0, 255)},
                          {0x563412, QColor(0x12, 0x34, 0x56)}};
    for (const Case &c : cases) {
        EXPECT_EQ(colorFromValue(c.value), c.color) << c.value;
        EXPECT_EQ(valueFromColor(c.color), c.value) << c.value;
    }
    // A value with the top byte set (clr=-1 in a file) shows as white.
    EXPECT_EQ(colorFromValue(-1), QColor(255, 255, 255));
}

}  // namespace
