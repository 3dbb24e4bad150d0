#include "base/ShownText.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace kavel {
namespace {

using namespace std::string_view_literals;

struct ShownCase {
    const char* name;
    std::string_view bytes;
    std::string_view shown;
};

class ShownTextTest : public testing::TestWithParam<ShownCase> {};

TEST_P(ShownTextTest, ShowsBytesAsSafeUtf8) {
    const ShownCase& c = GetParam();
    std::string scratch;
    EXPECT_EQ(ShownText(c.bytes, scratch), c.shown);
    std::string appended = "x";
    AppendShownText(appended, c.bytes);
    EXPECT_EQ(appended, "x" + std::string(c.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ShownTextTest,
    testing::Values(
        ShownCase{"Empty", ""sv, ""sv},
        ShownCase{"Ascii", "GET /index.html HTTP/1.1"sv, "GET /index.html HTTP/1.1"sv},
        ShownCase{"Utf8Umlauts",
                  "Gr\xC3\xBC\xC3\x9F"
                  "e"sv,
                  "Gr\xC3\xBC\xC3\x9F"
                  "e"sv},
        ShownCase{"Utf8FourByte", "a\xF0\x9F\x98\x80z"sv, "a\xF0\x9F\x98\x80z"sv},
        ShownCase{"LoneLatin1ByteIsCp1252", "M\xE4rz"sv, "M\xC3\xA4rz"sv},
        ShownCase{"Cp1252EuroAndQuotes", "\x80 \x84x\x93"sv, "\xE2\x82\xAC \xE2\x80\x9Ex\xE2\x80\x9C"sv},
        ShownCase{"Cp1252UndefinedByte", "\x81"sv, "\xEF\xBF\xBD"sv},
        // Once one sequence is broken the whole text is read as single bytes.
        ShownCase{"MixedValidAndInvalid", "\xC3\xA4 \xE4"sv, "\xC3\x83\xC2\xA4 \xC3\xA4"sv},
        ShownCase{"OverlongSlash", "\xC0\xAF"sv, "\xC3\x80\xC2\xAF"sv},
        ShownCase{"EncodedSurrogate", "\xED\xA0\x80"sv, "\xC3\xAD\xC2\xA0\xE2\x82\xAC"sv},
        ShownCase{"TruncatedAtEnd", "ab\xE2\x82"sv, "ab\xC3\xA2\xE2\x80\x9A"sv},
        ShownCase{"EscVisible", "\x1B[31m"sv, "\xE2\x90\x9B[31m"sv},
        ShownCase{"NulTabCrLfVisible", "a\0\t\r\n"sv, "a\xE2\x90\x80\xE2\x90\x89\xE2\x90\x8D\xE2\x90\x8A"sv},
        ShownCase{"Delete", "x\x7Fy"sv, "x\xE2\x90\xA1y"sv},
        ShownCase{"Utf8C1Replaced", "a\xC2\x9B"sv, "a\xEF\xBF\xBD"sv},
        ShownCase{"BidiOverrideReplaced",
                  "a\xE2\x80\xAE"
                  "b"sv,
                  "a\xEF\xBF\xBD"
                  "b"sv},
        ShownCase{"LineSeparatorReplaced", "a\xE2\x80\xA8z"sv, "a\xEF\xBF\xBDz"sv}),
    [](const testing::TestParamInfo<ShownCase>& param) { return std::string(param.param.name); });

TEST(ShownText, PrintableAsciiIsTheBytesThemselves) {
    std::string scratch = "unused";
    const std::string_view bytes = "GET / HTTP/1.1";
    const std::string_view shown = ShownText(bytes, scratch);
    EXPECT_EQ(shown.data(), bytes.data());
    // A text that needs a change is made in the scratch space.
    const std::string_view changed = ShownText("a\tb", scratch);
    EXPECT_EQ(changed.data(), scratch.data());
}

// Texts are looked at several bytes at a time: every byte value, at every place of a text
// longer than one such step, must be told apart.
TEST(ShownText, EveryByteOutsidePrintableAsciiIsFoundWhereverItStands) {
    std::string scratch;
    for (int value = 0; value < 256; ++value) {
        const bool printable = value >= 0x20 && value <= 0x7E;
        for (std::size_t at = 0; at < 19; ++at) {
            std::string bytes(19, 'a');
            bytes[at] = static_cast<char>(value);
            const std::string_view shown = ShownText(bytes, scratch);
            ASSERT_EQ(shown.data() == bytes.data(), printable) << "byte " << value << " at " << at;
        }
    }
}

TEST(ShownText, LoggedTextKeepsControlsAndReadsWindows1252) {
    const struct {
        std::string_view bytes;
        std::string_view text;
    } cases[] = {
        {"a\tb\x1B[0m"sv, "a\tb\x1B[0m"sv},
        {"Gr\xC3\xBC\xC3\x9F"
         "e"sv,
         "Gr\xC3\xBC\xC3\x9F"
         "e"sv},
        {"M\xE4rz \x80\x81"sv, "M\xC3\xA4rz \xE2\x82\xAC\xEF\xBF\xBD"sv},
        {"\xC3\xA4 \xE4"sv, "\xC3\x83\xC2\xA4 \xC3\xA4"sv},
    };
    for (const auto& c : cases) {
        std::string out;
        AppendLoggedText(out, c.bytes);
        EXPECT_EQ(out, c.text);
        EXPECT_TRUE(IsWellFormedUtf8(out));
    }
    EXPECT_FALSE(IsWellFormedUtf8("\xC0\xAF"sv));
    EXPECT_FALSE(IsWellFormedUtf8("ab\xE2\x82"sv));
}

} // namespace
} // namespace kavel
