#include "acquisition/EntryQueue.h"

#include "acquisition/EntryArena.h"
#include "acquisition/EntryParsing.h"
#include "base/LineBlocks.h"
#include "base/Text.h"
#include "platform/Clock.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using kavel::test::Space;

namespace kavel {
namespace {

const DateTime Now = *EncodeDateTime(2022, 3, 27, 12, 0, 0);

// An entry of the host with an access and no parse.
std::unique_ptr<LogEntry> HostEntry(Server& server, std::string_view host = "10.0.0.1") {
    auto entry = LogEntry::Make("line", &server);
    entry->SetAccess(std::make_unique<NcsaRecord>());
    entry->Access()->AssignAddressPair(host, host);
    return entry;
}

std::vector<const LogEntry*> Chain(const EntryQueue& queue) {
    std::vector<const LogEntry*> entries;
    for (const LogEntry* e = queue.First(); e; e = queue.Next(e))
        entries.push_back(e);
    std::vector<const LogEntry*> backwards;
    for (const LogEntry* e = queue.Last(); e; e = queue.Prev(e))
        backwards.insert(backwards.begin(), e);
    EXPECT_EQ(entries, backwards);
    EXPECT_EQ(static_cast<std::size_t>(queue.Count()), entries.size());
    return entries;
}

class EntryQueueTest : public testing::Test {
protected:
    EntryQueueTest()
        : Clock_(Now)
        , ScopedClock_(Clock_) {}

    platform::ManualClock Clock_;
    platform::ScopedClock ScopedClock_;
    Server Server_;
};

TEST_F(EntryQueueTest, NewEntry) {
    const std::unique_ptr<LogEntry> entryMade = LogEntry::Make("raw", &Server_);
    const LogEntry& entry = *entryMade;
    EXPECT_EQ(entry.Line, "raw");
    EXPECT_EQ(entry.Server, &Server_);
    EXPECT_EQ(entry.Time, Now);
    EXPECT_TRUE(entry.IsNew);
    EXPECT_EQ(entry.DisplayState, DisplayState::NotShown);
    EXPECT_EQ(entry.ListItem, ListHandle::None);
    EXPECT_EQ(entry.Access(), nullptr);
}

TEST_F(EntryQueueTest, EmptyQueue) {
    EntryQueue queue;
    EXPECT_EQ(queue.First(), nullptr);
    EXPECT_EQ(queue.Last(), nullptr);
    EXPECT_EQ(queue.FirstNew(), nullptr);
    EXPECT_EQ(queue.Count(), 0);
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0);
}

TEST_F(EntryQueueTest, AppendAndRemoveKeepTheChain) {
    EntryQueue queue;
    Server other;
    LogEntry* a = queue.Append(HostEntry(Server_));
    EXPECT_EQ(queue.First(), a);
    EXPECT_EQ(queue.Last(), a);
    EXPECT_EQ(Server_.QueueCount(), 1);
    queue.Remove(a);
    EXPECT_EQ(Chain(queue).size(), 0u);
    EXPECT_EQ(Server_.QueueCount(), 0);

    a = queue.Append(HostEntry(Server_));
    LogEntry* b = queue.Append(HostEntry(other));
    LogEntry* c = queue.Append(HostEntry(Server_));
    EXPECT_EQ(Chain(queue), (std::vector<const LogEntry*>{a, b, c}));
    EXPECT_EQ(Server_.QueueCount(), 2);
    EXPECT_EQ(other.QueueCount(), 1);
    queue.Remove(b);
    EXPECT_EQ(Chain(queue), (std::vector<const LogEntry*>{a, c}));
    EXPECT_EQ(queue.Next(a), c);
    EXPECT_EQ(queue.Prev(c), a);
    EXPECT_EQ(other.QueueCount(), 0);
    queue.Remove(a);
    EXPECT_EQ(Chain(queue), (std::vector<const LogEntry*>{c}));
    LogEntry* d = queue.Append(HostEntry(Server_));
    queue.Remove(d);
    EXPECT_EQ(Chain(queue), (std::vector<const LogEntry*>{c}));

    queue.Append(HostEntry(Server_));
    queue.Clear();
    EXPECT_EQ(Chain(queue).size(), 0u);
    EXPECT_EQ(Server_.QueueCount(), 2) << "clearing at the end leaves the definitions alone";
}

TEST_F(EntryQueueTest, FirstNew) {
    EntryQueue queue;
    LogEntry* a = queue.Append(HostEntry(Server_));
    LogEntry* b = queue.Append(HostEntry(Server_));
    LogEntry* c = queue.Append(HostEntry(Server_));
    EXPECT_EQ(queue.FirstNew(), a);
    a->IsNew = false;
    EXPECT_EQ(queue.FirstNew(), b);
    b->IsNew = false;
    c->IsNew = false;
    EXPECT_EQ(queue.FirstNew(), nullptr);
    LogEntry* d = queue.Append(HostEntry(Server_));
    EXPECT_EQ(queue.FirstNew(), d);
    a->IsNew = true;
    d->IsNew = false;
    EXPECT_EQ(queue.FirstNew(), nullptr) << "only the run at the newest end counts";
}

TEST_F(EntryQueueTest, IsExpired) {
    const struct {
        std::int32_t Limit;
        std::int32_t Unit;
        std::int64_t AgeMinutes;
        bool Expired;
    } cases[] = {
        {3, 0, 71 * 60, false}, {3, 0, 73 * 60, true}, {3, 0, 72 * 60, true}, {3, 0, -71 * 60, false},
        {3, 0, -73 * 60, true}, {1, 1, 59, false},     {1, 1, 61, true},      {1, 1, 60, true},
        {0, 0, 0, true},        {0, 1, 0, true},       {2, 1, 119, false},    {5, 7, 4 * 1440, false},
    };
    for (const auto& c : cases) {
        Server_.SetTimeDeleteAfter(c.Limit);
        Server_.SetTimeDeleteAfterUnit(static_cast<KeepUnit>(c.Unit));
        const std::unique_ptr<LogEntry> entryMade = LogEntry::Make("", &Server_);
        LogEntry& entry = *entryMade;
        entry.Time = DateTime{Now.Ms - c.AgeMinutes * MsPerMinute};
        EXPECT_EQ(IsExpired(entry), c.Expired) << c.Limit << " " << c.Unit << " " << c.AgeMinutes;
    }
    // Whole days are counted from the difference, not from calendar dates.
    Server_.SetTimeDeleteAfter(1);
    Server_.SetTimeDeleteAfterUnit(KeepUnit::Days);
    Clock_.Set(*EncodeDateTime(2022, 3, 28, 0, 30, 0));
    const std::unique_ptr<LogEntry> entryMade = LogEntry::Make("", &Server_);
    LogEntry& entry = *entryMade;
    entry.Time = *EncodeDateTime(2022, 3, 27, 23, 30, 0);
    EXPECT_FALSE(IsExpired(entry));
}

TEST_F(EntryQueueTest, ParseEntry) {
    test::ScopedOptions options;
    test::ScopedClassificationLists lists;
    Server_.SetTimeDeleteAfter(3);
    const std::string good = "10.0.0.1 - - [27/Mar/2022:11:00:00 +0000] \"GET / HTTP/1.1\" 200 1";
    const std::string old = "10.0.0.1 - - [20/Mar/2022:11:00:00 +0000] \"GET / HTTP/1.1\" 200 1";
    const struct {
        std::int32_t LogType;
        std::string Line;
        bool Kept;
    } cases[] = {
        {0, good, true}, {0, old, false},  {0, "#" + good, false}, {0, " " + good, false},
        {0, "", false},  {2, good, false}, {-1, good, false},
    };
    for (const auto& c : cases) {
        Server_.SetLogType(static_cast<LogFormat>(c.LogType));
        const std::unique_ptr<LogEntry> entryMade = LogEntry::Make(c.Line, &Server_);
        LogEntry& entry = *entryMade;
        EXPECT_EQ(ParseEntry(entry, EntrySettings::Of(Space())), c.Kept) << c.LogType << " " << c.Line;
        EXPECT_EQ(entry.Access() != nullptr, c.Kept) << c.Line;
    }

    Server_.SetLogType(LogFormat::Ncsa);
    Server_.SetTimeDeleteAfter(0);
    const std::unique_ptr<LogEntry> entryMade = LogEntry::Make(good, &Server_);
    LogEntry& entry = *entryMade;
    EXPECT_FALSE(ParseEntry(entry, EntrySettings::Of(Space()))) << "a keep period of 0 keeps nothing";

    Server_.SetLogType(LogFormat::W3c);
    Server_.SetW3cFields(W3cAllFields);
    Server_.SetTimeDeleteAfter(3);
    const std::unique_ptr<LogEntry> emptyMade = LogEntry::Make("", &Server_);
    LogEntry& empty = *emptyMade;
    EXPECT_FALSE(ParseEntry(empty, EntrySettings::Of(Space())));
}

TEST_F(EntryQueueTest, ReadLockMayBeTakenAgain) {
    EntryQueue queue;
    queue.Append(HostEntry(Server_));
    EXPECT_FALSE(queue.ReadLockHeld());
    std::atomic<bool> appended{false};
    std::thread writer;
    {
        const auto outer = queue.ReadLock();
        EXPECT_TRUE(queue.ReadLockHeld());
        {
            const auto inner = queue.ReadLock();
            EXPECT_NE(queue.First(), nullptr);
            EXPECT_NE(queue.FirstNew(), nullptr);
        }
        EXPECT_TRUE(queue.ReadLockHeld());
        EXPECT_THROW(queue.Append(HostEntry(Server_)), std::logic_error);

        // A writer that queues up meanwhile must not block this thread's further reads.
        writer = std::thread([&] {
            queue.Append(HostEntry(Server_));
            appended = true;
        });
        for (int i = 0; i < 1000; ++i) {
            const auto again = queue.ReadLock();
            queue.Last();
        }
        EXPECT_FALSE(appended);
        {
            auto moved = queue.ReadLock();
            auto target = std::move(moved);
        }
        EXPECT_TRUE(queue.ReadLockHeld());
    }
    // Leaving the scope released the lock; the writer gets through.
    writer.join();
    EXPECT_TRUE(appended);
    EXPECT_FALSE(queue.ReadLockHeld());
    EXPECT_EQ(queue.Count(), 2);
}

// Hundreds of hosts make the index grow and, as their chains empty, move colliding slots back:
// every host is still found, with exactly its entries, whatever was removed before.
TEST_F(EntryQueueTest, HostIndexAgreesWithTheWholeQueue) {
    std::mt19937 random(3);
    std::vector<std::string> hosts = {"a.example", "A.Example",    "b.example",   "",
                                      "10.0.0.1",  "\xC4.example", "\xE4.example"};
    for (int i = 0; i < 300; ++i)
        hosts.push_back("h" + std::to_string(i) + ".example");
    EntryQueue queue;
    std::vector<LogEntry*> queued;
    const auto agrees = [&](const std::string& host) {
        std::vector<const LogEntry*> indexed;
        queue.WalkHostBackward(host, [&](const LogEntry& e) {
            indexed.push_back(&e);
            return true;
        });
        std::vector<const LogEntry*> all;
        for (const LogEntry* e = queue.Last(); e; e = queue.Prev(e))
            if (EqualsAsciiIgnoreCase(e->Access()->HostName(), host))
                all.push_back(e);
        // What the revisit rule reads of the chain: its earliest and latest time and whether a
        // revisitor is among it, however many of its entries went, the earliest and latest
        // among them.
        const std::optional<EntryQueue::HostSummary> summary = queue.SummaryOf(host);
        EXPECT_EQ(summary.has_value(), !all.empty()) << host;
        if (summary && !all.empty()) {
            const auto [earliest, latest] =
                std::minmax_element(all.begin(), all.end(),
                                    [](const LogEntry* a, const LogEntry* b) { return a->Time < b->Time; });
            EXPECT_EQ(summary->Earliest, (*earliest)->Time) << host;
            EXPECT_EQ(summary->Latest, (*latest)->Time) << host;
            EXPECT_EQ(summary->AnyRevisitor, std::any_of(all.begin(), all.end(),
                                                         [](const LogEntry* e) {
                                                             return e->Access()->VisitorState ==
                                                                    VisitorKind::Revisitor;
                                                         }))
                << host;
        }
        return indexed == all;
    };
    // Times spread over a day, so that a removal often takes a chain's earliest or latest entry;
    // a revisitor now and then.
    const auto spreadEntry = [&](const std::string& host) {
        std::unique_ptr<LogEntry> entry = HostEntry(Server_, host);
        entry->Time = DateTime{Now.Ms - static_cast<std::int64_t>(random() % 1440) * MsPerMinute};
        if (random() % 8 == 0)
            entry->Access()->VisitorState = VisitorKind::Revisitor;
        return entry;
    };
    for (int step = 0; step < 6000; ++step) {
        // Appends outweigh removals first, then removals empty most chains again.
        if (step < 3000 || random() % 3 == 0)
            queued.push_back(queue.Append(spreadEntry(hosts[random() % hosts.size()])));
        const int removals = step < 3000 ? (random() % 3 == 0 ? 1 : 0) : 2;
        for (int r = 0; r < removals && !queued.empty(); ++r) {
            const std::size_t victim = random() % queued.size();
            queue.Remove(queued[victim]);
            queued.erase(queued.begin() + static_cast<std::ptrdiff_t>(victim));
        }
        if (step % 100 != 0)
            continue;
        const auto lock = queue.ReadLock();
        for (std::size_t i = 0; i < 7; ++i)
            ASSERT_TRUE(agrees(hosts[i])) << hosts[i];
        for (int i = 0; i < 20; ++i) {
            const std::string& host = hosts[random() % hosts.size()];
            ASSERT_TRUE(agrees(host)) << host;
        }
    }
    {
        const auto lock = queue.ReadLock();
        for (const std::string& host : hosts)
            ASSERT_TRUE(agrees(host)) << host;
    }
    // An entry without an access is chained but never indexed.
    auto bare = LogEntry::Make("x", &Server_);
    LogEntry* b = queue.Append(std::move(bare));
    EXPECT_EQ(queue.Last(), b);
    queue.Remove(b);
}

// The revisit rule reads only a host's summary, so it must stay exact through every removal:
// the earliest or latest entry going (times in a log do not always rise), a middle one, a
// revisitor's. Another host's entries lie between, and its summary never changes.
TEST_F(EntryQueueTest, SummaryOfFollowsEveryRemoval) {
    struct Queued {
        int Minute;
        bool Revisitor;
    };
    const struct {
        const char* Why;
        std::vector<Queued> Entries;
        // Positions in Entries, removed in this order, each checked.
        std::vector<std::size_t> Removals;
    } cases[] = {
        {"earliest first", {{10, false}, {0, false}, {20, false}, {5, false}}, {1, 3, 0, 2}},
        {"latest first", {{10, false}, {30, false}, {0, false}, {25, false}}, {1, 3, 0, 2}},
        {"a time twice, one of them goes", {{0, false}, {30, false}, {30, false}, {0, false}}, {1, 0, 3, 2}},
        {"middle entries keep the bounds", {{0, false}, {5, false}, {7, false}, {9, false}}, {1, 2, 0, 3}},
        {"the only revisitor goes", {{0, false}, {1, true}, {2, false}}, {1, 0, 2}},
        {"one of two revisitors goes", {{0, true}, {1, false}, {2, true}}, {2, 1, 0}},
        {"newest entry is the revisitor", {{3, false}, {1, false}, {2, true}}, {2, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        EntryQueue queue;
        const auto at = [](int minute) { return DateTime{Now.Ms + minute * MsPerMinute}; };
        std::vector<LogEntry*> entries;
        for (const Queued& q : c.Entries) {
            std::unique_ptr<LogEntry> entry = HostEntry(Server_, "visitor.example");
            entry->Time = at(q.Minute);
            entry->Access()->VisitorState = q.Revisitor ? VisitorKind::Revisitor : VisitorKind::Known;
            entries.push_back(queue.Append(std::move(entry)));
            std::unique_ptr<LogEntry> between = HostEntry(Server_, "other.example");
            between->Time = at(-100);
            queue.Append(std::move(between));
        }
        std::vector<bool> left(c.Entries.size(), true);
        for (const std::size_t removal : c.Removals) {
            queue.Remove(entries[removal]);
            left[removal] = false;
            std::optional<int> earliest;
            std::optional<int> latest;
            bool anyRevisitor = false;
            for (std::size_t i = 0; i < c.Entries.size(); ++i) {
                if (!left[i])
                    continue;
                earliest = std::min(earliest.value_or(c.Entries[i].Minute), c.Entries[i].Minute);
                latest = std::max(latest.value_or(c.Entries[i].Minute), c.Entries[i].Minute);
                anyRevisitor = anyRevisitor || c.Entries[i].Revisitor;
            }
            const auto lock = queue.ReadLock();
            // Asked twice: a summary mended on one call must not be spoilt for the next.
            for (int ask = 0; ask < 2; ++ask) {
                const std::optional<EntryQueue::HostSummary> summary = queue.SummaryOf("Visitor.Example");
                ASSERT_EQ(summary.has_value(), earliest.has_value()) << "after removing " << removal;
                if (summary) {
                    EXPECT_EQ(summary->Earliest, at(*earliest)) << "after removing " << removal;
                    EXPECT_EQ(summary->Latest, at(*latest)) << "after removing " << removal;
                    EXPECT_EQ(summary->AnyRevisitor, anyRevisitor) << "after removing " << removal;
                }
            }
            const std::optional<EntryQueue::HostSummary> other = queue.SummaryOf("other.example");
            ASSERT_TRUE(other.has_value());
            EXPECT_EQ(other->Earliest, at(-100));
            EXPECT_EQ(other->Latest, at(-100));
            EXPECT_FALSE(other->AnyRevisitor);
        }
    }
}

// Every text and number a caller can read, so that two ways of making an entry can be compared.
std::string Describe(const LogEntry& entry) {
    std::string text(entry.Line.View());
    const AccessRecord* a = entry.Access();
    if (!a)
        return text + "|none";
    (text += '|') += a->DateText();
    for (const std::string_view field : {a->Address(), a->HostName(), a->User(), a->UserAgent(), a->Method(),
                                         a->Page(), a->Protocol(), a->Referer()})
        (text += '|') += field;
    text += '|' + std::to_string(a->Status) + '|' + std::to_string(a->Bytes) + '|' +
            std::to_string(static_cast<int>(a->VisitorState)) + (a->IsDocument ? "D" : "") +
            (a->IsSpider ? "S" : "") + (a->IsBuddy ? "B" : "") + (a->Resolved() ? "R" : "") + '|' +
            std::to_string(entry.Time.Ms);
    if (a->Kind() == LogFormat::W3c) {
        const auto* w = static_cast<const W3cRecord*>(a);
        for (const std::string_view field :
             {w->ServerAddress(), w->ServerHostName(), w->SiteName(), w->ComputerName(), w->Cookie()})
            (text += '|') += field;
        text += '|' + std::to_string(w->ServerPort) + '|' + std::to_string(w->SubStatus) + '|' +
                std::to_string(w->Win32Status) + '|' + std::to_string(w->BytesReceived) + '|' +
                std::to_string(w->TimeTaken);
    }
    return text;
}

TEST_F(EntryQueueTest, MakeEntryReadsTheCorpusLikeParseEntry) {
    test::ScopedOptions options;
    test::ScopedClassificationLists lists;
    Space().Documents().Add(".html");
    Space().Spiders().Add("bot", false);
    Server_.SetTimeDeleteAfter(100000);
    const struct {
        const char* File;
        LogFormat Format;
    } files[] = {
        {"logfile_access_log.0", LogFormat::Ncsa},
        {"logfile_access_log.1", LogFormat::Ncsa},
        {"logfile_bad_access_log.0", LogFormat::Ncsa},
        {"logfile_shop_access_log.0", LogFormat::Ncsa},
        {"logfile_w3c.0", LogFormat::W3c},
        {"logfile_w3c.3", LogFormat::W3c},
        {"logfile_w3c.5", LogFormat::W3c},
        {"logfile_w3c_big.0", LogFormat::W3c},
    };
    std::size_t kept = 0;
    for (const auto& f : files) {
        Server_.SetLogType(f.Format);
        Server_.SetW3cFields(W3cAllFields);
        for (const std::string& line : test::ReadLogLines(std::string(KAVEL_CORPUS_DIR) + "/" + f.File)) {
            // Both ways see the same queue, so the revisit rule gives both the same state.
            auto old = LogEntry::Make(line, &Server_);
            const bool oldKept = ParseEntry(*old, EntrySettings::Of(Space()));
            std::unique_ptr<LogEntry> placed = MakeEntry(line, Server_, EntrySettings::Of(Space()));
            ASSERT_EQ(placed != nullptr, oldKept) << f.File << ": " << line;
            if (!placed)
                continue;
            ++kept;
            EXPECT_EQ(Describe(*placed), Describe(*old)) << f.File;
            Space().Entries().Append(std::move(placed));
        }
        Space().Entries().Clear();
        Server_.SetW3cLayout(nullptr);
    }
    EXPECT_GT(kept, 1000u);
}

TEST_F(EntryQueueTest, TextsOfAPlacedEntryMayBeReassigned) {
    test::ScopedOptions options;
    test::ScopedClassificationLists lists;
    Server_.SetTimeDeleteAfter(100000);
    const std::string line = "10.0.0.1 - bob [27/Mar/2022:11:00:00 +0000] \"GET /a.html HTTP/1.1\" 200 1 "
                             "\"http://x/\" \"Agent \"\"q\"\"\"";
    std::unique_ptr<LogEntry> entry = MakeEntry(line, Server_, EntrySettings::Of(Space()));
    ASSERT_TRUE(entry);
    AccessRecord& a = *entry->Access();
    EXPECT_EQ(a.UserAgent(), "Agent \"q\"");
    const struct {
        void (AccessRecord::*Set)(std::string_view);
        std::string_view (AccessRecord::*Get)() const;
        std::string_view Text;
    } changes[] = {
        {&AccessRecord::SetPage, &AccessRecord::Page, "/changed-to-a-much-longer-page.html"},
        {&AccessRecord::SetUser, &AccessRecord::User, ""},
        {&AccessRecord::SetHostName, &AccessRecord::HostName, "host.example"},
        {&AccessRecord::SetUserAgent, &AccessRecord::UserAgent, "-"},
    };
    for (const auto& c : changes) {
        (a.*c.Set)(c.Text);
        EXPECT_EQ((a.*c.Get)(), c.Text);
    }
    // The date and its zone offset are kept as two slices; a date text set whole replaces both.
    EXPECT_EQ(a.DateText(), "27/Mar/2022:11:00:00+0000");
    a.SetDateText(std::string_view(line).substr(0, 4));
    EXPECT_EQ(a.DateText(), "10.0");
    EXPECT_EQ(a.Address(), "10.0.0.1");
    EXPECT_EQ(a.Method(), "GET");
    EXPECT_EQ(a.Referer(), "http://x/");
    EXPECT_TRUE(a.Resolved());
    EXPECT_EQ(entry->Line, line);
    // An entry made with its access has no room for another one, and keeps its own.
    EXPECT_THROW(entry->SetAccess(std::make_unique<NcsaRecord>()), std::logic_error);
    EXPECT_EQ(entry->Access()->Address(), "10.0.0.1");
}

TEST_F(EntryQueueTest, AnAccessGivenLaterMayBeReplacedAndTaken) {
    const std::unique_ptr<LogEntry> entry = LogEntry::Make("line", &Server_);
    EXPECT_EQ(entry->Access(), nullptr);
    for (const std::string_view host : {"10.0.0.1", "10.0.0.2"}) {
        entry->SetAccess(std::make_unique<W3cRecord>());
        entry->Access()->AssignAddressPair(host, host);
        EXPECT_EQ(entry->Access()->HostName(), host);
        EXPECT_EQ(entry->Access()->Kind(), LogFormat::W3c);
    }
    entry->SetAccess(nullptr);
    EXPECT_EQ(entry->Access(), nullptr);
    entry->SetAccess(std::make_unique<NcsaRecord>());
    EXPECT_EQ(entry->Access()->Kind(), LogFormat::Ncsa);
}

TEST_F(EntryQueueTest, PlacedEntriesFreedInAnyOrder) {
    test::ScopedOptions options;
    test::ScopedClassificationLists lists;
    Server_.SetTimeDeleteAfter(100000);
    std::mt19937 random(7);
    // Enough entries to fill several of a reader's blocks.
    for (int i = 0; i < 12000; ++i) {
        // Line lengths from a few bytes to past the 16-bit slice range, and some too long for a
        // block that come from malloc.
        const std::size_t padding = i % 2000 == 0 ? 70000 : i % 2000 == 1000 ? 300000 : random() % 300;
        const std::string line = "10.0.0." + std::to_string(i % 40) +
                                 " - - [27/Mar/2022:11:00:00 +0000] \"GET /" + std::string(padding, 'p') +
                                 " HTTP/1.1\" 200 1 \"-\" \"A\"";
        std::unique_ptr<LogEntry> entry = MakeEntry(line, Server_, EntrySettings::Of(Space()));
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->Access()->Page().size(), padding + 1);
        Space().Entries().Append(std::move(entry));
    }
    std::vector<LogEntry*> queued;
    for (LogEntry* e = Space().Entries().First(); e; e = Space().Entries().Next(e))
        queued.push_back(e);
    std::shuffle(queued.begin(), queued.end(), random);
    for (std::size_t i = 0; i < queued.size(); ++i) {
        if (i % 2 == 0) {
            EXPECT_EQ(queued[i]->Access()->Protocol(), "HTTP/1.1");
        }
        Space().Entries().Remove(queued[i]);
    }
    EXPECT_EQ(Space().Entries().Count(), 0);
}

// A thread maps no entry memory before it keeps an entry (the start search's probes take
// none), its blocks start small and double up to the largest size, and a block that holds no
// entry any more goes back with the next block starting small again.
TEST_F(EntryQueueTest, EntryBlocksStartSmallAndGrowWithWhatAThreadKeeps) {
    test::ScopedOptions options;
    test::ScopedClassificationLists lists;
    Server_.SetTimeDeleteAfter(100000);
    const auto line = [](int i) {
        return "10.0.0." + std::to_string(i % 40) + " - - [27/Mar/2022:11:00:00 +0000] \"GET /" +
               std::string(200, 'p') + " HTTP/1.1\" 200 1 \"-\" \"A\"";
    };
    std::vector<std::uint64_t> blocks;
    std::uint64_t released = 0;
    std::uint64_t unchangedByProbes = 1;
    // A thread of its own, as a reader has.
    std::thread reader([&] {
        const std::uint64_t before = MappedEntryBlockBytes();
        for (int i = 0; i < 100; ++i)
            EXPECT_TRUE(LineWithinKeepPeriod(line(i), Server_));
        unchangedByProbes = MappedEntryBlockBytes() - before;
        std::uint64_t mapped = before;
        for (int i = 0; i < 40000; ++i) {
            Space().Entries().Append(MakeEntry(line(i), Server_, EntrySettings::Of(Space())));
            if (MappedEntryBlockBytes() != mapped) {
                blocks.push_back(MappedEntryBlockBytes() - mapped);
                mapped = MappedEntryBlockBytes();
            }
        }
        Space().Entries().Clear();
        const std::uint64_t beforeRelease = MappedEntryBlockBytes();
        ReleaseEmptyEntryBlock();
        released = beforeRelease - MappedEntryBlockBytes();
        Space().Entries().Append(MakeEntry(line(0), Server_, EntrySettings::Of(Space())));
        blocks.push_back(MappedEntryBlockBytes() - before);
        Space().Entries().Clear();
    });
    reader.join();
    EXPECT_EQ(unchangedByProbes, 0u);
    const std::vector<std::uint64_t> growth = {16u << 10,  32u << 10,  64u << 10, 128u << 10,
                                               256u << 10, 512u << 10, 1u << 20,  2u << 20};
    ASSERT_GT(blocks.size(), growth.size() + 1);
    EXPECT_TRUE(std::equal(growth.begin(), growth.end(), blocks.begin()));
    EXPECT_EQ(blocks[growth.size()], 2u << 20);
    EXPECT_EQ(released, 2u << 20);
    EXPECT_EQ(blocks.back(), 16u << 10);
}

std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0;
    std::size_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Removing the oldest nine tenths of the queue gives their memory back to the system at once:
// the entries' blocks, and the blocks of their lines.
TEST_F(EntryQueueTest, RemovingTheOldestEntriesReturnsTheirMemory) {
    test::ScopedOptions options;
    test::ScopedClassificationLists lists;
    Server_.SetTimeDeleteAfter(100000);
    const std::size_t before = ResidentBytes();
    const std::string padding(300, 'p');
    constexpr int Count = 60000;
    for (int i = 0; i < Count; ++i) {
        const std::string line = "10.0." + std::to_string(i % 200) +
                                 ".1 - - [27/Mar/2022:11:00:00 +0000] \"GET /" + padding +
                                 " HTTP/1.1\" 200 1 \"-\" \"A\"";
        Space().Entries().Append(MakeEntry(line, Server_, EntrySettings::Of(Space())));
    }
    const std::size_t full = ResidentBytes();
    ASSERT_GT(full, before + Count * sizeof(LogEntry));
    const LineBlockCounts sealed = CountLineBlocks();
    for (int i = 0; i < Count / 10 * 9; ++i)
        Space().Entries().Remove(Space().Entries().First());
    const std::size_t after = ResidentBytes();
    // At least the removed entries' bytes; other memory of the process (a sanitizer's
    // quarantine) may stay.
    EXPECT_GT(full - std::min(after, full), std::size_t{Count / 10 * 9} * sizeof(LogEntry))
        << before << " " << full;
    EXPECT_LT(CountLineBlocks().Sealed, sealed.Sealed / 5);
    Space().Entries().Clear();
}

// Reader threads parse, classify (walking the queue under its shared lock) and append while
// the main thread extends the lists, takes entries over and removes the oldest ones.
TEST_F(EntryQueueTest, ReadersAppendWhileTheMainThreadRemoves) {
    test::ScopedOptions options(false, 1);
    test::ScopedClassificationLists lists;
    Space().Documents().Add(".html");
    Server_.SetTimeDeleteAfter(1000000);
    constexpr int Readers = 3;
    constexpr int LinesPerReader = 1500;
    std::vector<std::unique_ptr<Server>> servers;
    for (int i = 0; i < Readers; ++i) {
        servers.push_back(std::make_unique<Server>());
        servers.back()->SetTimeDeleteAfter(1000000);
    }
    std::atomic<int> running{Readers};
    std::vector<std::thread> threads;
    for (int r = 0; r < Readers; ++r)
        threads.emplace_back([&, r] {
            std::mt19937 random(static_cast<unsigned>(r));
            for (int i = 0; i < LinesPerReader; ++i) {
                const int host = static_cast<int>(random() % 50);
                const int minute = static_cast<int>(random() % 60);
                const std::string line =
                    "10.0.0." + std::to_string(host) + " - - [27/Mar/2022:10:" + (minute < 10 ? "0" : "") +
                    std::to_string(minute) + ":00 +0000] \"GET /p" + std::to_string(i % 7) +
                    (i % 2 ? ".html" : ".gif") + " HTTP/1.1\" 200 1";
                Server& server = *servers[static_cast<std::size_t>(r)];
                // Half the readers make entries the old way, half in one allocation.
                std::unique_ptr<LogEntry> entry;
                if (r % 2 == 0) {
                    entry = MakeEntry(line, server, EntrySettings::Of(Space()));
                } else {
                    entry = LogEntry::Make(line, &server);
                    if (!ParseEntry(*entry, EntrySettings::Of(Space())))
                        entry.reset();
                }
                if (entry)
                    Space().Entries().Append(std::move(entry));
                if (i % 100 == 0) {
                    // The popup's search: a walk of several links under the shared lock.
                    const auto lock = Space().Entries().ReadLock();
                    for (const LogEntry* e = Space().Entries().Last(); e; e = Space().Entries().Prev(e))
                        if (e->IsNew && e->Access()->IsDocument)
                            break;
                }
            }
            running.fetch_sub(1);
        });

    int round = 0;
    while (running.load() > 0) {
        ++round;
        Space().Spiders().Add("spider" + std::to_string(round) + ".example", round % 2 == 0);
        if (round % 5 == 0)
            Space().Documents().Add(".x" + std::to_string(round));
        if (round % 7 == 0)
            Space().Buddies().Add("10.0.0." + std::to_string(round % 50));
        for (LogEntry* e = Space().Entries().FirstNew(); e; e = Space().Entries().Next(e)) {
            e->IsNew = false;
            e->DisplayState = DisplayState::Shown;
        }
        if (Space().Entries().Count() > 200)
            for (int i = 0; i < 20; ++i)
                if (LogEntry* oldest = Space().Entries().First())
                    Space().Entries().Remove(oldest);
        std::this_thread::yield();
    }
    for (std::thread& thread : threads)
        thread.join();

    const std::vector<const LogEntry*> chain = Chain(Space().Entries());
    int counted = 0;
    for (const auto& server : servers)
        counted += server->QueueCount();
    EXPECT_EQ(static_cast<std::size_t>(counted), chain.size());
    Space().Entries().Clear();
    std::set<std::string> addresses;
    for (const Revisitor& item : Space().Revisitors().Items())
        EXPECT_TRUE(addresses.insert(item.Address).second);
}

} // namespace
} // namespace kavel
