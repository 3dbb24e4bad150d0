#include "parsing/ParseSupport.h"

#include "base/Text.h"

#include <gtest/gtest.h>
#include <random>

namespace kavel {
namespace {

// The line splitter must give exactly the tokens of ExtractStrings with the blank as the only
// separator, on any bytes, including runs longer than one block of the fast scan.
TEST(ParseSupportTest, SplitLogLineAgreesWithExtractStrings) {
    std::mt19937 random(13);
    const std::string alphabet = "  \"'\r\nab\t;:";
    std::vector<std::string_view> fast;
    std::vector<std::string_view> reference;
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 90, ' ');
        for (char& c : text)
            c = random() % 4 == 0 ? alphabet[random() % alphabet.size()]
                                  : static_cast<char>('c' + random() % 3);
        const std::size_t n = SplitLogLine(text, fast);
        ExtractStrings(' ', text, reference);
        ASSERT_EQ(n, fast.size());
        ASSERT_EQ(fast, reference) << text;
    }
}

TEST(ParseSupportTest, SplitLogLineCases) {
    const struct {
        const char* Text;
        std::vector<std::string_view> Tokens;
    } cases[] = {
        {"", {}},
        {"a  \"b c\" f", {"a", "\"b c\"", "f"}},
        {"x 'y z", {"x", "'y z"}},
        {"a\r\nb", {"a", "b"}},
        {"\"a 'b\" c'd e' f", {"\"a 'b\"", "c'd e'", "f"}},
        {"   ", {}},
        {"0123456789abcdefghij 0123456789abcdefghij\"0123456789 abcdef\"",
         {"0123456789abcdefghij", "0123456789abcdefghij\"0123456789 abcdef\""}},
    };
    std::vector<std::string_view> tokens;
    for (const auto& c : cases) {
        SplitLogLine(c.Text, tokens);
        EXPECT_EQ(tokens, c.Tokens) << c.Text;
    }
}

TEST(ParseSupportTest, DequoteViewKeepsTheCommonCaseInPlace) {
    std::string scratch;
    const std::string_view token = "\"Mozilla/5.0 (X11)\"";
    const std::string_view result = DequoteView(token, scratch);
    EXPECT_EQ(result, "Mozilla/5.0 (X11)");
    EXPECT_EQ(result.data(), token.data() + 1);
    EXPECT_EQ(DequoteView("\"a\"\"b\"", scratch), "a\"b");
}

} // namespace
} // namespace kavel
