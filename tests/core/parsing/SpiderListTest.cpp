#include "parsing/SpiderList.h"

#include "base/DefinitionFile.h"
#include "base/Text.h"
#include "base/VersionInfo.h"
#include "platform/Paths.h"
#include "support/ParsingSupport.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>

using kavel::test::Space;

namespace kavel {
namespace {

std::optional<bool> Classify(std::string_view host) {
    NcsaRecord record;
    record.AssignAddressPair("192.0.2.1", host);
    record.IsSpider = false;
    ClassifySpider(Space().Spiders(), record);
    const std::optional<Spider> found = Space().Spiders().Find(host);
    EXPECT_EQ(record.IsSpider, found.has_value() && !found->NoSpider) << host;
    return found ? std::optional<bool>(!found->NoSpider) : std::nullopt;
}

class SpiderListTest : public testing::Test {
protected:
    test::ScopedClassificationLists Lists_;
};

TEST_F(SpiderListTest, SuffixMatchFirstEntryWins) {
    const struct {
        std::vector<Spider> List;
        const char* Host;
        std::optional<bool> Expected;
    } cases[] = {
        {{{"search.example", false}}, "crawl-1.search.example", true},
        {{{"search.example", true}, {"search.example", false}}, "crawl-1.search.example", false},
        {{{"SEARCH.example", false}}, "crawl.search.EXAMPLE", true},
        {{{"bot.example", false}}, "robot.example", true},
        {{{"bot.example", false}}, "bot.example", true},
        {{{"bot.example", false}}, "ot.example", std::nullopt},
        {{{"bot.example", false}}, "", std::nullopt},
        {{{"", true}, {"bot.example", false}}, "a.bot.example", false},
        {{{"bot.example", false}, {"", true}}, "a.bot.example", true},
        {{{"example", false}, {"bot.example", true}}, "a.bot.example", true},
        {{{"bot.example", true}, {"example", false}}, "a.bot.example", false},
        {{{"66.249.", false}}, "66.249.66.1", std::nullopt},
        {{{".66.1", false}}, "66.249.66.1", true},
        {{}, "anything", std::nullopt},
        // Only ASCII letters fold; other bytes compare as they are.
        {{{"\xC4.example", false}}, "x.\xE4.example", std::nullopt},
        {{{"\xC4.example", false}}, "x.\xC4.EXAMPLE", true},
    };
    for (const auto& c : cases) {
        Space().Spiders().Assign(c.List);
        EXPECT_EQ(Classify(c.Host), c.Expected) << c.Host;
    }
}

// The index must give the answer of the plain walk over the list, in list order.
TEST_F(SpiderListTest, IndexAgreesWithTheListWalk) {
    std::mt19937 random(5);
    const std::string alphabet = "abAB.-1";
    const auto text = [&](std::size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s)
            c = alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 50; ++round) {
        std::vector<Spider> list;
        const std::size_t count = random() % 40;
        for (std::size_t i = 0; i < count; ++i)
            list.push_back({text(4), random() % 2 == 0});
        Space().Spiders().Assign(list);
        for (int probe = 0; probe < 200; ++probe) {
            const std::string host = text(8);
            std::optional<Spider> expected;
            for (const Spider& spider : list) {
                const std::size_t k = spider.Name.size();
                const std::string_view tail =
                    host.size() < k ? std::string_view(host) : std::string_view(host).substr(host.size() - k);
                if (EqualsAsciiIgnoreCase(tail, spider.Name)) {
                    expected = spider;
                    break;
                }
            }
            ASSERT_EQ(Space().Spiders().Find(host), expected) << host;
        }
    }
}

TEST_F(SpiderListTest, AddAppendsWithoutDuplicateTest) {
    Space().Spiders().Add("bot.example", true);
    Space().Spiders().Add("bot.example", false);
    EXPECT_EQ(Space().Spiders().Count(), 2u);
    EXPECT_EQ(Classify("x.bot.example"), false);
    EXPECT_EQ(Space().Spiders().Items()[1], (Spider{"bot.example", false}));
}

TEST_F(SpiderListTest, FileLines) {
    const std::vector<std::string> lines = {
        "# Spiders Definition File",
        "a.example;-1",
        "b.example;0",
        "c.example;1",
        "d.example;true",
        "e.example;FALSE",
        "name only",
        "",
        "f.example;maybe",
        ";0",
        "g example;0;extra",
        "#h.example;0",
        " i.example ;0",
        "j'x;0';0",
    };
    const std::vector<Spider> expected = {
        {"a.example", true},  {"b.example", false}, {"c.example", true},    {"d.example", true},
        {"e.example", false}, {"g example", false}, {" i.example ", false}, {"j'x;0'", false},
    };
    EXPECT_EQ(SpidersFromLines(lines), expected);
}

TEST_F(SpiderListTest, SaveAndLoadRoundTrip) {
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.spiders";
    Space().Spiders().Assign({{"a.example", true}, {"b.example", false}});
    SaveSpiders(file, Space().Spiders());
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "# Spiders Definition File\r\n# This file was automatically generated by " +
                        ProductName() + ". Pleasy do not modify.\r\na.example;-1\r\nb.example;0\r\n");

    Space().Spiders().Clear();
    LoadSpiders(file, Space().Spiders());
    EXPECT_EQ(Space().Spiders().Items(), (std::vector<Spider>{{"a.example", true}, {"b.example", false}}));

    LoadSpiders(folder.Path() / "missing.spiders", Space().Spiders());
    EXPECT_EQ(Space().Spiders().Count(), 2u) << "a missing file changes nothing";

    Space().Spiders().Clear();
    SaveSpiders(file, Space().Spiders());
    EXPECT_EQ(SpidersFromLines(*ReadDefinitionLines(file)).size(), 0u);
    EXPECT_EQ(ReadDefinitionLines(file)->size(), 2u) << "an empty list still writes the header";
}

TEST_F(SpiderListTest, LinesWithoutAnEntryAreWrittenBackInTheirPlaces) {
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.spiders";
    std::ofstream(file, std::ios::binary) << "# Spiders Definition File\r\n"
                                             "no separator\r\n"
                                             "a.example;-1\r\n"
                                             "\r\n"
                                             "b.example;maybe\r\n"
                                             "c.example;0\r\n"
                                             "d.example\r\n";
    const UnreadLines unread = LoadSpiders(file, Space().Spiders());
    EXPECT_EQ(unread.Count, 3u);
    EXPECT_EQ(unread.FirstLine, std::optional<std::size_t>(2));
    EXPECT_EQ(Space().Spiders().Items(), (std::vector<Spider>{{"a.example", true}, {"c.example", false}}));

    Space().Spiders().Add("e.example", false);
    SaveSpiders(file, Space().Spiders());
    const std::vector<std::string> lines = *ReadDefinitionLines(file);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
              (std::vector<std::string>{"no separator", "a.example;-1", "b.example;maybe", "c.example;0",
                                        "d.example", "e.example;0"}));
}

TEST_F(SpiderListTest, AStoppedLoadLeavesTheListAlone) {
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.spiders";
    std::ofstream(file, std::ios::binary) << "a.example;0\r\n";
    Space().Spiders().Assign({{"keep.example", false}});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(LoadSpiders(file, Space().Spiders(), stop.get_token()), LoadStoppedError);
    EXPECT_EQ(Space().Spiders().Items(), (std::vector<Spider>{{"keep.example", false}}));
}

TEST_F(SpiderListTest, LoaderTakesAnyBytes) {
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.spiders";
    std::mt19937 random(3);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(static_cast<std::size_t>(random() % 5000), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 256);
        if (round == 0)
            bytes = std::string(300000, 'x') + ";0";
        std::ofstream(file, std::ios::binary) << bytes;
        LoadSpiders(file, Space().Spiders());
        Space().Spiders().Find("crawl.example");
        if (round == 0) {
            ASSERT_EQ(Space().Spiders().Count(), 1u);
            EXPECT_TRUE(Space().Spiders().Find("a" + std::string(300000, 'x')));
        }
    }
}

} // namespace
} // namespace kavel
