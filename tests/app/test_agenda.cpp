// The widths the columns of --list are made of, and the colours a terminal
// without 24-bit colour gets instead.
#include "app/agenda.h"

#include <gtest/gtest.h>

using Module1::Rgb;

namespace {

TEST(Agenda, DisplayWidthCountsWideCharactersTwiceAndMarksNotAtAll)
{
    struct {
        const char16_t *text;
        int width;
    } const cases[] = {
        {u"", 0},           {u"Rent", 4},     {u"漢字", 4},
        {u"한국어", 6},     {u"Ｆｕｌｌ", 8},  // fullwidth forms
        {u"ｶﾀｶﾅ", 4},                          // halfwidth katakana stay narrow
        {u"🎉 party", 8},                       // an emoji outside the BMP
        {u"Cafe\u0301", 4},                    // a combining acute
        {u"a\u20DD", 1},                       // an enclosing mark
        {u"x\u200By", 2},                      // a zero-width space (format)
        {u"\u00AD", 1},                        // a soft hyphen is shown
        {u"●…", 2},                            // ambiguous: narrow
        {u"\u3000", 2},                        // the ideographic space
        {u"\U00020000", 2},                    // CJK extension B
    };
    for (const auto &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(displayWidth(text), c.width);
    }
}

TEST(Agenda, ACutNeverSplitsAWideCharacterAndEndsInAnEllipsis)
{
    struct {
        const char16_t *text;
        int width;
        const char16_t *cut;
    } const cases[] = {
        {u"Renew the passport", 18, u"Renew the passport"},
        {u"Renew the passport", 8, u"Renew t…"},
        {u"漢字漢字", 5, u"漢字…"},
        {u"漢字漢字", 4, u"漢…"},
        {u"Cafe\u0301 au lait", 5, u"Cafe\u0301…"},
        {u"🎉🎉🎉", 3, u"🎉…"},
        {u"abc", 1, u"…"},
    };
    for (const auto &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString() + " to " + std::to_string(c.width));
        const QString cut = cutToWidth(text, c.width);
        EXPECT_EQ(cut, QString::fromUtf16(c.cut));
        EXPECT_LE(displayWidth(cut), c.width);
    }
}

TEST(Agenda, TheNearestPaletteColourIsFromTheCubeOrTheGreyRamp)
{
    struct {
        Rgb rgb;
        int index;
    } const cases[] = {
        {{0, 0, 0}, 16},        {{255, 255, 255}, 231}, {{255, 0, 0}, 196},
        {{0, 0, 128}, 18},       // 0,0,135
        {{255, 153, 51}, 209},   // 255,135,95
        {{128, 128, 128}, 244},  // grey 128 is in the ramp, not the cube's 135
        {{8, 8, 8}, 232},       {{238, 238, 238}, 255}, {{100, 0, 0}, 52},  // 95,0,0
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.rgb.red) + "," + std::to_string(c.rgb.green) + "," +
                     std::to_string(c.rgb.blue));
        EXPECT_EQ(nearest256(c.rgb), c.index);
    }
}

TEST(Agenda, ARuleColourIsReadableByItsContrastWithTheBackground)
{
    EXPECT_DOUBLE_EQ(contrastRatio({0, 0, 0}, {255, 255, 255}), 21.0);
    EXPECT_DOUBLE_EQ(contrastRatio({10, 20, 30}, {10, 20, 30}), 1.0);
    struct {
        Rgb rgb;
        bool onDark, onLight;
    } const cases[] = {
        {{255, 0, 0}, true, false},                                // 5.3:1 on black, 4.0:1 on white
        {{0, 0, 255}, false, true},                                // pure blue: too dark on black
        {{0, 0, 128}, false, true}, {{255, 255, 0}, true, false},  // yellow: too light on white
        {{0, 255, 0}, true, false}, {{128, 128, 128}, true, false},  // 5.3:1 and 3.9:1
        {{0, 0, 0}, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.rgb.red) + "," + std::to_string(c.rgb.green) + "," +
                     std::to_string(c.rgb.blue));
        EXPECT_EQ(readableOn(c.rgb, false), c.onDark);
        EXPECT_EQ(readableOn(c.rgb, true), c.onLight);
    }
}

}  // namespace
