#include "base/Text.h"

#include "base/SingleInstance.h"
#include "base/VersionInfo.h"
#include "base/WindowLayout.h"
#include "platform/NamedMutex.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace kavel {
namespace {

struct SplitCase {
    const char* Separators;
    const char* Text;
    std::vector<std::string> Tokens;
};

class ExtractStringsTest : public testing::TestWithParam<SplitCase> {};

TEST_P(ExtractStringsTest, SplitsLikeTheParsersExpect) {
    const SplitCase& c = GetParam();
    std::vector<std::string> tokens;
    const std::size_t n = ExtractStrings(c.Separators, "", c.Text, tokens);
    EXPECT_EQ(tokens, c.Tokens);
    EXPECT_EQ(n, c.Tokens.size());

    // The view variants agree with the copying one.
    std::vector<std::string_view> views;
    ExtractStrings(c.Separators, "", c.Text, views);
    EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), c.Tokens);
    if (std::string_view(c.Separators).size() == 1) {
        ExtractStrings(c.Separators[0], c.Text, views);
        EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), c.Tokens);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractStringsTest,
    testing::Values(SplitCase{" ", "", {}}, SplitCase{" ", "a  \"b c\" f", {"a", "\"b c\"", "f"}},
                    SplitCase{" ", "x 'y z", {"x", "'y z"}},
                    SplitCase{" ", "a \"it's\" b", {"a", "\"it's\"", "b"}},
                    SplitCase{" ", "'a \"b' c", {"'a \"b'", "c"}}, SplitCase{";", ";;a;;b;", {"a", "b"}},
                    SplitCase{";", "a\r\nb", {"a", "b"}},
                    SplitCase{";", "a;\"x;y\";b", {"a", "\"x;y\"", "b"}},
                    SplitCase{" ", "\"open\r\nquote\" x", {"\"open\r\nquote\"", "x"}},
                    SplitCase{" ", "   ", {}}, SplitCase{",", "Hier, Wörter", {"Hier", " Wörter"}}));

TEST(ExtractStrings, SkipsWhiteSpaceBeforeTokensOnly) {
    std::vector<std::string> tokens;
    ExtractStrings(",", " ", "  a b,  c", tokens);
    EXPECT_EQ(tokens, (std::vector<std::string>{"a b", "c"}));
}

TEST(CaseFolding, AsciiAndCodePage) {
    EXPECT_TRUE(EqualsAsciiIgnoreCase("ListViewHideWords", "listviewhidewords"));
    EXPECT_FALSE(EqualsAsciiIgnoreCase("\xE4", "\xC4")); // umlauts are not ASCII letters
    EXPECT_TRUE(EqualsIgnoreCase("m\xFCller", "M\xDCLLER"));
    EXPECT_TRUE(ContainsIgnoreCase("Mozilla/5.0 FIREFOX/3", "firefox"));
    EXPECT_LT(CompareAsciiIgnoreCase("abc", "ABD"), 0);
    EXPECT_TRUE(EndsWithAsciiIgnoreCase("crawl.SEARCH.example", "search.EXAMPLE"));
}

TEST(Numbers, Int32AndBoolean) {
    EXPECT_EQ(ParseInt32("-12"), -12);
    EXPECT_EQ(ParseInt32("+7"), 7);
    EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
    EXPECT_FALSE(ParseInt32("2147483648"));
    EXPECT_FALSE(ParseInt32("-"));
    EXPECT_FALSE(ParseInt32("1.5"));
    EXPECT_FALSE(ParseInt32(" 1"));
    EXPECT_FALSE(ParseInt32("+-1"));
    EXPECT_EQ(ParseBoolean("-1"), true);
    EXPECT_EQ(ParseBoolean("0"), false);
    EXPECT_EQ(ParseBoolean("TRUE"), true);
    EXPECT_EQ(ParseBoolean("False"), false);
    EXPECT_FALSE(ParseBoolean("yes"));
}

TEST(VersionInfo, CompiledInValues) {
    EXPECT_EQ(ProductName(), "Kavel");
    EXPECT_EQ(VersionInfoValue("kavel", "CompanyName"), "Quarnet");
    EXPECT_EQ(VersionInfoValue("kavel", "productname"), "Kavel");
    EXPECT_NE(VersionInfoValue("kavel", "FileVersion"), "?");
    EXPECT_NE(VersionInfoValue("kavel", "FileDescription"), "?");
    EXPECT_NE(VersionInfoValue("kavel", "LegalCopyright"), "?");
    EXPECT_EQ(VersionInfoValue("kavel", "Comments"), "?");
    EXPECT_EQ(VersionInfoValue("kavel", ""), "?");
}

TEST(CaptionWithPrefix, ReplacesOrAddsThePrefix) {
    EXPECT_EQ(CaptionWithPrefix("Kavel", "Web"), "Web - Kavel");
    EXPECT_EQ(CaptionWithPrefix("Old - Kavel", "Web"), "Web - Kavel");
    EXPECT_EQ(CaptionWithPrefix("A - B - Kavel", "Web"), "Web - B - Kavel");
    EXPECT_EQ(CaptionWithPrefix("", "Web"), "Web - ");
    EXPECT_EQ(CaptionWithPrefix("A-B", ""), " - A-B");
}

struct WidthsCase {
    const char* Text;
    std::vector<int> Widths;
};

class ColumnWidthsTest : public testing::TestWithParam<WidthsCase> {};

TEST_P(ColumnWidthsTest, AppliesNumbersOfZeroOrMoreByPosition) {
    EXPECT_EQ(ApplyColumnWidths({10, 20, 30}, GetParam().Text), GetParam().Widths);
}

INSTANTIATE_TEST_SUITE_P(Texts, ColumnWidthsTest,
                         testing::Values(WidthsCase{"", {10, 20, 30}}, WidthsCase{"100,,250", {100, 250, 30}},
                                         WidthsCase{"-5,250", {10, 250, 30}}, WidthsCase{"x,0,7", {10, 0, 7}},
                                         WidthsCase{",,,", {10, 20, 30}}, WidthsCase{"1,2,3,4,5", {1, 2, 3}},
                                         WidthsCase{" 5,6 ", {10, 20, 30}},
                                         WidthsCase{"99999999999,1", {10, 1, 30}}));

TEST(ColumnWidths, TextRoundTrip) {
    EXPECT_EQ(ColumnWidthsText({}), "");
    EXPECT_EQ(ColumnWidthsText({100, 0, 250}), "100,0,250");
    EXPECT_EQ(ApplyColumnWidths({1, 1, 1}, ColumnWidthsText({100, 0, 250})), (std::vector<int>{100, 0, 250}));
}

class SingleInstance : public testing::Test {
protected:
    ~SingleInstance() override { ReleaseSingleInstance(); }
    const std::string LockName = "KavelTest-" + std::to_string(::getpid()) + "-" +
                                 testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(SingleInstance, FirstInstanceContinuesWithoutAsking) {
    int asked = 0;
    EXPECT_TRUE(CheckSingleInstance([&](const std::string&, const std::string&) { return ++asked, false; },
                                    LockName));
    EXPECT_EQ(asked, 0);
}

TEST_F(SingleInstance, SecondInstanceIsAskedAndFollowsTheAnswer) {
    ASSERT_TRUE(CheckSingleInstance({}, LockName));
    std::string question, caption;
    const auto answer = [&](bool yes) {
        return [&, yes](const std::string& q, const std::string& c) {
            question = q;
            caption = c;
            return yes;
        };
    };
    EXPECT_FALSE(CheckSingleInstance(answer(false), LockName));
    EXPECT_EQ(question,
              "Die Anwendung wurde bereits gestartet. Möchten Sie sie noch ein weiteres Mal starten?");
    EXPECT_EQ(caption, "Kavel");
    EXPECT_TRUE(CheckSingleInstance(answer(true), LockName));
    // The first instance still holds the lock after a second one was allowed.
    EXPECT_TRUE(platform::NamedMutex(LockName).AlreadyExisted());
}

TEST_F(SingleInstance, ReleasedLockLetsTheNextInstanceStartQuietly) {
    ASSERT_TRUE(CheckSingleInstance({}, LockName));
    ReleaseSingleInstance();
    int asked = 0;
    EXPECT_TRUE(CheckSingleInstance([&](const std::string&, const std::string&) { return ++asked, false; },
                                    LockName));
    EXPECT_EQ(asked, 0);
}

} // namespace
} // namespace kavel
