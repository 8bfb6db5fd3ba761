#include "page/viewermarkup.h"

#include <QString>

#include <gtest/gtest.h>

#include <ostream>

using namespace ViewerMarkup;

namespace {

QString repeated(const char *text, int n) { return QString::fromLatin1(text).repeated(n); }
QString nested(const char *open, const char *close, int n)
{
    return repeated(open, n) + QLatin1Char('x') + repeated(close, n);
}

struct MarkupCase {
    const char *name;
    QString field;
    bool kept;
};
void PrintTo(const MarkupCase &c, std::ostream *os) { *os << c.name; }

class FieldMarkup : public ::testing::TestWithParam<MarkupCase> { };

TEST_P(FieldMarkup, KeptOrEscaped)
{
    const MarkupCase &c = GetParam();
    const QString shown = viewerText(c.field);
    EXPECT_EQ(shown, c.kept ? c.field : c.field.toHtmlEscaped()) << c.field.toStdString();
}

const MarkupCase kCases[] = {
    // Everyday markup stays.
    {"PlainTextAndEntities", "Tom &amp; Jerry > cats", true},
    {"BoldItalic", "<b>Pay</b> <I>rent</i>", true},
    {"FontColour", "<font color=red>urgent</font> <font color=\"#00F\" face='Sans'>x</font>", true},
    {"LineBreaks", "one<br>two<BR/>three<br />", true},
    {"SmallTable", "<table border=1><tr><td>a</td><td colspan=2><b>b</b></td></tr></table>", true},
    {"ItemsClosedAsQtClosesThem", "<ul><li>one<li>two</ul>", true},
    {"LinkWithQuery", "<a href=\"http://example.com/?a=1&b=2\">site</a>", true},
    {"ImageLoadsNothingAnyway", "<img src=\"/dev/zero\" width=10>", true},
    {"Paragraphs", "<p>one</p><p>two</p>", true},
    {"AtTheDepthLimit", nested("<b>", "</b>", kMaxDepth), true},
    {"AtTheTagLimit", repeated("<br>", kMaxTags), true},
    // Too much to lay out.
    {"TooDeep", nested("<b>", "</b>", kMaxDepth + 1), false},
    {"TooManyTags", repeated("<br>", kMaxTags + 1), false},
    {"HundredNestedTables", nested("<table><tr><td>", "</td></tr></table>", 100), false},
    {"SpanAtTheLimit", "<table><tr><td colspan=3 rowspan=3>x</td></tr></table>", true},
    {"SpanPastTheLimit", "<table><tr><td colspan=4>x</td></tr></table>", false},
    {"RowSpanPastTheLimit", "<table><tr><td rowspan=4>x</td></tr></table>", false},
    {"WideSpan", "<table><tr><td colspan=1000>x</td></tr></table>", false},
    {"SpanByEntity", "<table><tr><td colspan=&#57;9>x</td></tr></table>", false},
    // Would change the page around the field.
    {"ClosedWhereTheCellEnds", "<b>urgent <font color=red>now", true},
    {"ItemsLeftOpen", "<li>a<li>b", true},
    {"ParagraphsLeftOpen", "<p>a<p><b>b<p>c", true},
    {"StrayInlineClose", "x</b></font>", true},
    {"TableLeftOpen", "<table><tr><td>x", false},
    {"StrayParagraphClose", "x</p>", false},
    {"ClosesThePage", "</td></tr></table><table><tr><td>", false},
    {"CellOutsideARow", "<td>x</td>", false},
    {"RowlessCell", "<table><td>x</td></table>", false},
    {"ParagraphInParagraph", "<p>a<p>b</p></p>", false},
    {"PageStyle", "<style>td { padding: 99px }</style>", false},
    {"PageBody", "<body>x</body>", false},
    {"StyleSheetLink", "<link rel=stylesheet href=a.css>", false},
    // Read differently by Qt's parser than by a naive one.
    {"LoneLessThan", "a < b", false},
    {"Heart", "I <3 you", false},
    {"SpaceAfterLessThan", "< b>x</b>", false},
    {"Comment", "<!-- <table> -->", false},
    {"Cdata", "<![CDATA[<table>]]>", false},
    {"GreaterThanInValue", "<b title=\"a>b\">x</b>", false},
    {"EscapedSingleQuote", "<b title='it\\'s'>x</b>", false},
    // A value that ends at once for a naive reader runs on for Qt's.
    {"BackslashBeforeTheClosingQuote", "<font color='red\\' face='x'>y</font>", false},
    {"Unterminated", "<b", false},
    {"SlashInName", "<b/x>y</b>", false},
};

INSTANTIATE_TEST_SUITE_P(ViewerMarkup, FieldMarkup, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
