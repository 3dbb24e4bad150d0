#include "parsing/ParseSupport.h"

#include "base/Text.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <utility>

namespace kavel {
namespace {

// Byte by byte, the way the fast scan must split: blanks, CR and LF end a token; a double
// quote opens a stretch that only an unescaped double quote closes.
std::vector<std::string_view> SplitSlowly(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == '\r' || text[i] == '\n'))
            ++i;
        const std::size_t head = i;
        bool quoted = false;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            if (quoted) {
                if (c == '\\')
                    ++i;
                else if (c == '"')
                    quoted = false;
            } else if (c == '"') {
                quoted = true;
            } else if (c == ' ' || c == '\r' || c == '\n') {
                break;
            }
        }
        i = std::min(i, text.size());
        if (i > head)
            tokens.push_back(text.substr(head, i - head));
        ++i;
    }
    return tokens;
}

// Random bytes, including runs longer than one block of the fast scan.
TEST(ParseSupportTest, SplitLogLineAgreesWithTheByteWiseSplit) {
    std::mt19937 random(13);
    const std::string alphabet = "  \"'\\\r\nab\t;:";
    std::vector<std::string_view> fast;
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 90, ' ');
        for (char& c : text)
            c = random() % 4 == 0 ? alphabet[random() % alphabet.size()]
                                  : static_cast<char>('c' + random() % 3);
        const std::size_t n = SplitLogLine(text, fast);
        ASSERT_EQ(n, fast.size());
        ASSERT_EQ(fast, SplitSlowly(text)) << text;
    }
}

TEST(ParseSupportTest, SplitLogLineCases) {
    const struct {
        const char* Text;
        std::vector<std::string_view> Tokens;
    } cases[] = {
        {"", {}},
        {"a  \"b c\" f", {"a", "\"b c\"", "f"}},
        {"a\r\nb", {"a", "b"}},
        {"   ", {}},
        {"0123456789abcdefghij 0123456789abcdefghij\"0123456789 abcdef\"",
         {"0123456789abcdefghij", "0123456789abcdefghij\"0123456789 abcdef\""}},
        // Apostrophes are plain bytes.
        {"x 'y z", {"x", "'y", "z"}},
        {"o'brien \"it's\" don't", {"o'brien", "\"it's\"", "don't"}},
        // A backslash-escaped quote does not close the stretch.
        {"\"GET /a\\\" HTTP/1.1\" 200", {"\"GET /a\\\" HTTP/1.1\"", "200"}},
        {"\"a\\\\\" b", {"\"a\\\\\"", "b"}},
        {"\"a\\", {"\"a\\"}},
        {"a\\ b", {"a\\", "b"}},
        {"\"unterminated b c", {"\"unterminated b c"}},
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
    EXPECT_EQ(DequoteView("\"a\\\" b\"", scratch), "a\\\" b") << "escapes are kept as logged";
}

// Tokens cut short or run on by hostile lines: a lone or unclosed quote, text after the
// closing quote, doubled quotes at either end.
TEST(ParseSupportTest, DequoteViewOfMalformedTokens) {
    const std::pair<std::string, std::string> cases[] = {
        {"\"abc\"", "abc"}, {"\"a\"\"b\"", "a\"b"}, {"\"\"", ""},
        {"abc", "abc"},     {"\"abc", "ab"},        {"\"a", "\"a"},
        {"\"", "\""},       {"\"\"abc", "\"\"abc"}, {"\"abc\"def", "abc"},
        {"\"ab\"\"", "ab"}, {"\"\"\"\"\"\"", ""},   {"\"-\"", "-"},
        {"", ""},           {"a\"b\"", "a\"b\""},
    };
    std::string scratch;
    for (const auto& [token, expected] : cases)
        EXPECT_EQ(DequoteView(token, scratch), expected) << token;
}

} // namespace
} // namespace kavel
