#include "parsing/RevisitorList.h"

#include "acquisition/RevisitRule.h"
#include "base/DefinitionFile.h"
#include "base/Text.h"
#include "net/ReverseLookup.h"
#include "platform/Clock.h"
#include "platform/LocaleFormat.h"
#include "platform/Paths.h"
#include "support/ParsingSupport.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <thread>

using kavel::test::Space;

namespace kavel {
namespace {

class RevisitorListTest : public testing::Test {
protected:
    RevisitorListTest()
        : Options_(false, 30) {
        Space().Documents().Add(".html");
    }

    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    Server Server_;
};

TEST_F(RevisitorListTest, AddIsUniqueAndNeedsBothTexts) {
    EXPECT_NE(Space().Revisitors().Add("a", "x"), nullptr);
    EXPECT_EQ(Space().Revisitors().Add("a", "y"), nullptr);
    EXPECT_EQ(Space().Revisitors().Find("a")->HostName, "x");
    EXPECT_EQ(Space().Revisitors().Find("A"), nullptr);

    NcsaRecord record;
    record.IsDocument = true;
    const std::unique_ptr<LogEntry> entryMade = LogEntry::Make("", &Server_);
    LogEntry& entry = *entryMade;
    auto earlier = LogEntry::Make("", &Server_);
    earlier->SetAccess(std::make_unique<NcsaRecord>());
    earlier->Access()->VisitorState = VisitorKind::Revisitor;
    Space().Entries().Append(std::move(earlier));
    ApplyRevisitRule(record, entry, Space().Entries(), Space().Revisitors(), 10);
    EXPECT_EQ(record.VisitorState, VisitorKind::Revisitor);
    EXPECT_EQ(Space().Revisitors().Count(), 1u) << "an empty address is never listed";
}

TEST_F(RevisitorListTest, ConcurrentAddsListEachAddressOnce) {
    RevisitorList list;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&list, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string address = "10.0.0." + std::to_string(i % 100);
                list.Add(address, "host" + std::to_string(t));
                list.Contains(address);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::string> addresses;
    for (const Revisitor& item : list.Items())
        EXPECT_TRUE(addresses.insert(item.Address).second) << item.Address;
    EXPECT_EQ(list.Count(), 100u);
}

TEST_F(RevisitorListTest, FileLines) {
    RevisitorList list;
    const RevisitorLoad load = RevisitorsFromLines(
        {"# Revisitors Definition File", "a;x", "a;y", "b;z;extra", "c;w", "", "d;v"}, list);
    // A malformed line is skipped; the entries after it are kept, so the rewrite at the end
    // loses nothing.
    EXPECT_EQ(list.Items(), (std::vector<Revisitor>{{"a", "x"}, {"b", "z"}, {"c", "w"}, {"d", "v"}}));
    EXPECT_EQ(load.Added, 4u);
    EXPECT_EQ(load.Malformed, 1u);
    EXPECT_EQ(load.FirstMalformedLine, std::optional<std::size_t>(6));

    RevisitorList other;
    const RevisitorLoad twice = RevisitorsFromLines({"x;y", "no separator", "z;w", ";"}, other);
    EXPECT_EQ(twice.FirstMalformedLine, 2u);
    EXPECT_EQ(twice.Malformed, 2u);
    EXPECT_EQ(other.Count(), 2u);
}

TEST_F(RevisitorListTest, LoadedLinesAreWrittenBackAsTheyWere) {
    platform::ManualClock clock(*EncodeDateTime(2021, 2, 3, 4, 5, 6));
    platform::ScopedClock scoped(clock);
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.revisitors";
    test::WriteBytes(file, "# Revisitors Definition File\r\n"
                           "\"10.0.0.1;x\";quoted.example\r\n"
                           "broken\r\n"
                           "10.0.0.2;b;extra\r\n"
                           "10.0.0.2;duplicate\r\n"
                           "\r\n"
                           "10.0.0.3;c\r\n");
    RevisitorList list;
    const RevisitorLoad load = LoadRevisitors(file, list);
    EXPECT_EQ(load.Added, 3u);
    EXPECT_EQ(load.Malformed, 2u);
    list.Add("10.0.0.4", "new.example");
    list.Add("bad;address", "x");
    SaveRevisitors(file, list);

    const std::vector<std::string> lines = *ReadDefinitionLines(file);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
              (std::vector<std::string>{"\"10.0.0.1;x\";quoted.example", "broken", "10.0.0.2;b;extra",
                                        "10.0.0.2;duplicate", "", "10.0.0.3;c", "10.0.0.4;new.example"}));
}

TEST_F(RevisitorListTest, SaveAndLoad) {
    platform::ManualClock clock(*EncodeDateTime(2021, 2, 3, 4, 5, 6));
    platform::ScopedClock scoped(clock);
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.revisitors";
    RevisitorList list;
    list.Add("10.0.0.1", "one.example");
    list.Add("10.0.0.2", "10.0.0.2");
    list.Add("bad;address", "x");
    list.Add("10.0.0.3", "quo\"te");
    list.Add("#10.0.0.4", "hash.example");
    SaveRevisitors(file, list);
    const std::vector<std::string> lines = *ReadDefinitionLines(file);
    ASSERT_EQ(lines.size(), 5u)
        << "three header lines, two entries; entries that would not read back are left out";
    EXPECT_EQ(lines[0], "# Revisitors Definition File");
    EXPECT_EQ(lines[2], "# Last modification was at " + platform::FormatDateTime(clock.Now()));
    EXPECT_EQ(lines[3], "10.0.0.1;one.example");
    EXPECT_EQ(lines[4], "10.0.0.2;10.0.0.2");

    RevisitorList loaded;
    loaded.Add("stale", "gone");
    const RevisitorLoad result = LoadRevisitors(file, loaded);
    EXPECT_TRUE(result.FileFound);
    EXPECT_TRUE(loaded.Loaded());
    EXPECT_EQ(loaded.Items(),
              (std::vector<Revisitor>{{"10.0.0.1", "one.example"}, {"10.0.0.2", "10.0.0.2"}}));

    RevisitorList untouched;
    untouched.Add("keep", "me");
    EXPECT_FALSE(LoadRevisitors(folder.Path() / "missing", untouched).FileFound);
    EXPECT_EQ(untouched.Count(), 1u);
}

TEST_F(RevisitorListTest, LoaderTakesAnyBytes) {
    test::TempFolder folder;
    const auto file = folder.Path() / "kavel.revisitors";
    std::mt19937 random(21);
    platform::ManualClock clock(*EncodeDateTime(2021, 2, 3, 4, 5, 6));
    platform::ScopedClock scoped(clock);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(static_cast<std::size_t>(random() % 5000), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 4 == 0 ? ';' : random() % 256);
        std::ofstream(file, std::ios::binary) << bytes;
        RevisitorList list;
        LoadRevisitors(file, list);
        SaveRevisitors(file, list);
        RevisitorList again;
        LoadRevisitors(file, again);
        EXPECT_EQ(again.Items(), list.Items()) << "what was read is written back";
        const std::vector<std::string> written = *ReadDefinitionLines(file);
        SaveRevisitors(file, again);
        EXPECT_EQ(*ReadDefinitionLines(file), written) << "a second round changes nothing";
    }
}

} // namespace
} // namespace kavel
