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

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <thread>

namespace kavel {
namespace {

const DateTime Start = *EncodeDateTime(2020, 6, 1, 12, 0, 0);

class RevisitorListTest : public testing::Test {
protected:
    RevisitorListTest()
        : Options_(false, 30) {
        Documents().Add(".html");
    }

    // Parses an access of host to page at Start + minutes on server and queues it; its
    // visitor image.
    Icon Visit(std::string_view host, int minutes, std::string_view page = "/a.html",
               Server* server = nullptr) {
        const DateParts t = DecodeDateTime(DateTime{Start.Ms + minutes * MsPerMinute});
        static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        char date[64];
        std::snprintf(date, sizeof date, "[%02d/%s/%04d:%02d:%02d:%02d", t.Day, Months[t.Month - 1], t.Year,
                      t.Hour, t.Minute, t.Second);
        auto entry = std::make_unique<LogEntry>(std::string(host) + " - - " + date + " +0000] \"GET " +
                                                    std::string(page) + " HTTP/1.1\" 200 1",
                                                server ? server : &Server_);
        test::ParseInto(*entry);
        EXPECT_NE(entry->Access, nullptr);
        if (!entry->Access)
            return Icon::None;
        const Icon image = entry->Access->VisitorImage();
        Entries().Append(std::move(entry));
        return image;
    }

    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    Server Server_;
};

TEST_F(RevisitorListTest, NewKnownRevisitor) {
    EXPECT_EQ(Visit("10.0.0.1", 0), Icon::NewVisitor);
    EXPECT_EQ(Visit("10.0.0.1", 5), Icon::KnownVisitor);
    EXPECT_FALSE(IsRevisitor("10.0.0.1"));
    EXPECT_EQ(Visit("10.0.0.1", 45), Icon::Revisitor);
    ASSERT_TRUE(IsRevisitor("10.0.0.1"));
    EXPECT_EQ(FindRevisitor("10.0.0.1")->HostName, "10.0.0.1");
    EXPECT_EQ(Visit("10.0.0.1", 46), Icon::Revisitor) << "listed addresses stay revisitors";
}

TEST_F(RevisitorListTest, DistanceMustExceedTheThreshold) {
    EXPECT_EQ(Visit("10.0.0.2", 0), Icon::NewVisitor);
    EXPECT_EQ(Visit("10.0.0.2", 30), Icon::KnownVisitor) << "exactly 30 minutes";
    EXPECT_EQ(Visit("10.0.0.3", 0), Icon::NewVisitor);
    EXPECT_EQ(Visit("10.0.0.3", -31), Icon::Revisitor) << "the distance counts either way";
}

TEST_F(RevisitorListTest, ARecentRevisitorEntryDecides) {
    EXPECT_EQ(Visit("10.0.0.4", 0), Icon::NewVisitor);
    EXPECT_EQ(Visit("10.0.0.4", 40), Icon::Revisitor);
    Revisitors().Clear();
    EXPECT_EQ(Visit("10.0.0.4", 41), Icon::Revisitor) << "the newest match is a revisitor one minute old";
}

TEST_F(RevisitorListTest, EveryQueuedAccessCounts) {
    Server other;
    EXPECT_EQ(Visit("10.0.0.5", 0, "/logo.gif", &other), Icon::None);
    EXPECT_EQ(Revisitors().Count(), 0u);
    EXPECT_EQ(Visit("10.0.0.5", 10), Icon::KnownVisitor) << "an image request on another server was a visit";
    EXPECT_EQ(Visit("10.0.0.5", 100, "/logo.gif"), Icon::None);
    EXPECT_EQ(Revisitors().Count(), 0u) << "a non-document access never lists its address";
    EXPECT_EQ(Visit("10.0.0.5", 101), Icon::Revisitor)
        << "a near match does not end the walk; the visit at minute 10 is 91 minutes back";
}

TEST_F(RevisitorListTest, HostNamesCompareIgnoringAsciiCase) {
    EXPECT_EQ(Visit("Host.Example", 0), Icon::NewVisitor);
    EXPECT_EQ(Visit("host.EXAMPLE", 50), Icon::Revisitor);
    EXPECT_TRUE(IsRevisitor("host.EXAMPLE"));
    EXPECT_FALSE(IsRevisitor("Host.Example")) << "the list compares addresses exactly";
}

TEST_F(RevisitorListTest, ListedAddressWinsWhateverTheHostName) {
    Options_.SetDnsResolve(true);
    ClearResolveCache();
    SetHostNameResolver(
        [](std::string_view) -> std::optional<std::string> { return std::string("new.example"); });
    AddRevisitor("192.0.2.44", "old.example");
    EXPECT_EQ(Visit("192.0.2.44", 0), Icon::Revisitor);
    EXPECT_EQ(FindRevisitor("192.0.2.44")->HostName, "old.example");
    SetHostNameResolver({});
    ClearResolveCache();
}

TEST_F(RevisitorListTest, AddIsUniqueAndNeedsBothTexts) {
    EXPECT_NE(AddRevisitor("a", "x"), nullptr);
    EXPECT_EQ(AddRevisitor("a", "y"), nullptr);
    EXPECT_EQ(FindRevisitor("a")->HostName, "x");
    EXPECT_EQ(FindRevisitor("A"), nullptr);

    NcsaRecord record;
    record.IsDocument = true;
    LogEntry entry("", &Server_);
    auto earlier = std::make_unique<LogEntry>("", &Server_);
    earlier->Access = std::make_unique<NcsaRecord>();
    earlier->Access->VisitorState = VisitorKind::Revisitor;
    Entries().Append(std::move(earlier));
    ApplyRevisitRule(record, entry);
    EXPECT_EQ(record.VisitorState, VisitorKind::Revisitor);
    EXPECT_EQ(Revisitors().Count(), 1u) << "an empty address is never listed";
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

// The host index must decide exactly as a walk over the whole queue does.
TEST_F(RevisitorListTest, IndexedRuleAgreesWithThePlainWalk) {
    std::mt19937 random(17);
    const std::vector<std::string> hosts = {"a.example", "A.EXAMPLE", "b.example", "10.0.0.1",
                                            "10.0.0.2",  "",          "c.Example"};
    EntryQueue queue;
    std::vector<LogEntry*> queued;
    RevisitorList indexed;
    std::set<std::string> reference;
    for (int step = 0; step < 4000; ++step) {
        const std::int32_t threshold = static_cast<std::int32_t>(random() % 40);
        const std::string& host = hosts[random() % hosts.size()];
        const std::string address = random() % 4 == 0 ? std::string() : "addr-" + host;
        NcsaRecord record;
        record.AssignAddressPair(address, host);
        record.IsDocument = true;
        auto entry = std::make_unique<LogEntry>("", &Server_);
        entry->Time = DateTime{Start.Ms + static_cast<std::int64_t>(random() % 100000) * MsPerSecond};

        ApplyRevisitRule(record, *entry, queue, indexed, threshold);

        std::uint8_t expected = 0;
        if (reference.count(address) != 0) {
            expected = 2;
        } else {
            const auto lock = queue.ReadLock();
            queue.WalkAllBackward([&](const LogEntry& e) {
                if (!EqualsAsciiIgnoreCase(e.Access->HostName(), host))
                    return true;
                expected = 1;
                if (e.Access->VisitorState == VisitorKind::Revisitor ||
                    WholeMinutesBetween(e.Time, entry->Time) > threshold) {
                    expected = 2;
                    return false;
                }
                return true;
            });
            if (expected == 2 && !address.empty() && !host.empty())
                reference.insert(address);
        }
        ASSERT_EQ(static_cast<int>(record.VisitorState), expected) << "step " << step;

        entry->Access = std::make_unique<NcsaRecord>();
        entry->Access->AssignAddressPair(address, host);
        entry->Access->VisitorState = random() % 10 == 0 ? VisitorKind::Revisitor : record.VisitorState;
        queued.push_back(queue.Append(std::move(entry)));
        if (random() % 3 == 0) {
            const std::size_t victim = random() % queued.size();
            queue.Remove(queued[victim]);
            queued.erase(queued.begin() + static_cast<std::ptrdiff_t>(victim));
        }
    }
    EXPECT_EQ(indexed.Count(), reference.size());
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

TEST_F(RevisitorListTest, ProcessWideSaveNeedsALoad) {
    test::TempFolder folder;
    const auto previous = platform::Paths::HomeDir();
    platform::Paths::SetHomeDir(folder.Path());
    AddRevisitor("10.1.1.1", "x.example");
    EXPECT_FALSE(SaveRevisitors());
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "kavel.revisitors"));
    LoadRevisitors();
    AddRevisitor("10.1.1.2", "y.example");
    EXPECT_TRUE(SaveRevisitors());
    Revisitors().Clear();
    EXPECT_TRUE(LoadRevisitors().FileFound);
    EXPECT_EQ(Revisitors().Count(), 2u);
    platform::Paths::SetHomeDir(previous);
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
