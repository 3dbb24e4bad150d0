#include "ui/DisplayText.h"

#include "UiTestSupport.h"

#include <QTextDocument>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace kavel::ui {
namespace {

using namespace std::string_view_literals;

struct DisplayCase {
    const char* name;
    std::string_view bytes;
    std::u16string_view expected;
};

class DisplayTextTest : public testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayTextTest, ShowsBytesAsSafeText) {
    const DisplayCase& c = GetParam();
    const QString expected = QString::fromUtf16(c.expected.data(), static_cast<qsizetype>(c.expected.size()));
    EXPECT_EQ(DisplayText(c.bytes), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, DisplayTextTest,
    testing::Values(
        DisplayCase{"Empty", ""sv, u""},
        DisplayCase{"Ascii", "GET /index.html HTTP/1.1"sv, u"GET /index.html HTTP/1.1"},
        DisplayCase{"Utf8Umlauts", "Gr\xC3\xBC\xC3\x9F\x65 \xC3\xA4"sv, u"Gr\u00FC\u00DFe \u00E4"},
        DisplayCase{"Utf8FourByteEmoji", "a\xF0\x9F\x98\x80z"sv, u"a\U0001F600z"},
        DisplayCase{"Utf8EuroSign", "\xE2\x82\xAC"sv, u"\u20AC"},
        DisplayCase{"LoneLatin1ByteIsCp1252", "M\xE4rz"sv, u"M\u00E4rz"},
        DisplayCase{"Cp1252EuroAndQuotes", "\x80 \x84x\x93"sv, u"\u20AC \u201Ex\u201C"},
        DisplayCase{"Cp1252UndefinedBytes", "\x81\x8D\x8F\x90\x9D"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        // Once one sequence is broken the whole text is read as single bytes.
        DisplayCase{"MixedValidAndInvalid", "\xC3\xA4 \xE4"sv, u"\u00C3\u00A4 \u00E4"},
        DisplayCase{"OverlongSlash", "\xC0\xAF"sv, u"\u00C0\u00AF"},
        DisplayCase{"OverlongThreeByte", "\xE0\x80\xAF"sv, u"\u00E0\u20AC\u00AF"},
        DisplayCase{"TruncatedAtEnd", "ab\xE2\x82"sv, u"ab\u00E2\u201A"},
        DisplayCase{"EncodedSurrogate", "\xED\xA0\x80"sv, u"\u00ED\u00A0\u20AC"},
        DisplayCase{"AboveUnicodeRange", "\xF4\x90\x80\x80"sv, u"\u00F4\uFFFD\u20AC\u20AC"},
        DisplayCase{"LoneContinuation", "\xBF"sv, u"\u00BF"},
        DisplayCase{"EscSequenceVisible", "\x1B[31mrot\x1B[0m"sv, u"\u241B[31mrot\u241B[0m"},
        DisplayCase{"OscTitleSequenceVisible", "\x1B]0;x\x07"sv, u"\u241B]0;x\u2407"},
        DisplayCase{"Utf8C1CsiReplaced",
                    "a\xC2\x9B"
                    "31m"sv,
                    u"a\uFFFD31m"},
        DisplayCase{"NulInTheMiddle", "a\0b"sv, u"a\u2400b"},
        DisplayCase{"TabCrLfVisible", "a\tb\r\n"sv, u"a\u2409b\u240D\u240A"},
        DisplayCase{"Delete", "x\x7Fy"sv, u"x\u2421y"},
        DisplayCase{"BidiOverrideReplaced",
                    "a\xE2\x80\xAE"
                    "bc"sv,
                    u"a\uFFFDbc"},
        DisplayCase{"LineSeparatorReplaced", "a\xE2\x80\xA8z"sv, u"a\uFFFDz"}),
    [](const testing::TestParamInfo<DisplayCase>& param) { return std::string(param.param.name); });

struct ToolTipCase {
    const char* name;
    QString plain;
    QString shown;
};

TEST(ToolTipTextTest, MarkupFromTheLogIsShownLiterally) {
    test::App();
    const ToolTipCase cases[] = {
        {"Bold", QStringLiteral("<b>x</b>"), QStringLiteral("<b>x</b>")},
        {"Entity", QStringLiteral("&amp; &lt;"), QStringLiteral("&amp; &lt;")},
        {"Script", QStringLiteral("<script>alert(1)</script>"), QStringLiteral("<script>alert(1)</script>")},
        {"Image", QStringLiteral("<img src=\"file:///etc/passwd\">"),
         QStringLiteral("<img src=\"file:///etc/passwd\">")},
        {"PlainWord", QStringLiteral("Firefox"), QStringLiteral("Firefox")},
        {"Blanks", QStringLiteral("a  b"), QStringLiteral("a  b")},
        {"LineBreaks", QStringLiteral("Seite\nHost\r\nAgent"), QStringLiteral("Seite\nHost\nAgent")},
    };
    for (const ToolTipCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString tip = ToolTipText(c.plain);
        // Qt's tool tip treats the text as markup exactly when this holds.
        EXPECT_TRUE(Qt::mightBeRichText(tip));
        QTextDocument document;
        document.setHtml(tip);
        EXPECT_EQ(document.toPlainText(), c.shown);
    }
}

} // namespace
} // namespace kavel::ui
