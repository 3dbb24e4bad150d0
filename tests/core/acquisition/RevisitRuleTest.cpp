#include "acquisition/RevisitRule.h"

#include "acquisition/EntryQueue.h"
#include "base/Text.h"
#include "net/ReverseLookup.h"
#include "parsing/RevisitorList.h"
#include "platform/Clock.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>

using kavel::test::Space;

namespace kavel {
namespace {

const DateTime Start = *EncodeDateTime(2020, 6, 1, 12, 0, 0);

// The rule that makes a document access' visitor new, known or a revisitor, over the process'
// queue and revisitor list.
class RevisitRuleTest : public testing::Test {
protected:
    RevisitRuleTest()
        : Options_(false, 30) {
        Space().Documents().Add(".html");
    }

    // Parses an access of host to page at Start + minutes on server and queues it; its
    // visitor mark.
    VisitorMark Visit(std::string_view host, int minutes, std::string_view page = "/a.html",
                      Server* server = nullptr) {
        const DateParts t = DecodeDateTime(DateTime{Start.Ms + minutes * MsPerMinute});
        static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        char date[64];
        std::snprintf(date, sizeof date, "[%02d/%s/%04d:%02d:%02d:%02d", t.Day, Months[t.Month - 1], t.Year,
                      t.Hour, t.Minute, t.Second);
        auto entry = LogEntry::Make(std::string(host) + " - - " + date + " +0000] \"GET " +
                                        std::string(page) + " HTTP/1.1\" 200 1",
                                    server ? server : &Server_);
        test::ParseInto(*entry);
        EXPECT_NE(entry->Access(), nullptr);
        if (!entry->Access())
            return VisitorMark::None;
        const VisitorMark visitor = entry->Access()->Visitor();
        Space().Entries().Append(std::move(entry));
        return visitor;
    }

    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    Server Server_;
};

TEST_F(RevisitRuleTest, NewKnownRevisitor) {
    EXPECT_EQ(Visit("10.0.0.1", 0), VisitorMark::New);
    EXPECT_EQ(Visit("10.0.0.1", 5), VisitorMark::Known);
    EXPECT_FALSE(Space().Revisitors().Contains("10.0.0.1"));
    EXPECT_EQ(Visit("10.0.0.1", 45), VisitorMark::Revisitor);
    ASSERT_TRUE(Space().Revisitors().Contains("10.0.0.1"));
    EXPECT_EQ(Space().Revisitors().Find("10.0.0.1")->HostName, "10.0.0.1");
    EXPECT_EQ(Visit("10.0.0.1", 46), VisitorMark::Revisitor) << "listed addresses stay revisitors";
}

TEST_F(RevisitRuleTest, DistanceMustExceedTheThreshold) {
    EXPECT_EQ(Visit("10.0.0.2", 0), VisitorMark::New);
    EXPECT_EQ(Visit("10.0.0.2", 30), VisitorMark::Known) << "exactly 30 minutes";
    EXPECT_EQ(Visit("10.0.0.3", 0), VisitorMark::New);
    EXPECT_EQ(Visit("10.0.0.3", -31), VisitorMark::Revisitor) << "the distance counts either way";
}

TEST_F(RevisitRuleTest, ARecentRevisitorEntryDecides) {
    EXPECT_EQ(Visit("10.0.0.4", 0), VisitorMark::New);
    EXPECT_EQ(Visit("10.0.0.4", 40), VisitorMark::Revisitor);
    Space().Revisitors().Clear();
    EXPECT_EQ(Visit("10.0.0.4", 41), VisitorMark::Revisitor)
        << "the newest match is a revisitor one minute old";
}

TEST_F(RevisitRuleTest, EveryQueuedAccessCounts) {
    Server other;
    EXPECT_EQ(Visit("10.0.0.5", 0, "/logo.gif", &other), VisitorMark::None);
    EXPECT_EQ(Space().Revisitors().Count(), 0u);
    EXPECT_EQ(Visit("10.0.0.5", 10), VisitorMark::Known) << "an image request on another server was a visit";
    EXPECT_EQ(Visit("10.0.0.5", 100, "/logo.gif"), VisitorMark::None);
    EXPECT_EQ(Space().Revisitors().Count(), 0u) << "a non-document access never lists its address";
    EXPECT_EQ(Visit("10.0.0.5", 101), VisitorMark::Revisitor)
        << "a near match does not end the walk; the visit at minute 10 is 91 minutes back";
}

TEST_F(RevisitRuleTest, HostNamesCompareIgnoringAsciiCase) {
    EXPECT_EQ(Visit("Host.Example", 0), VisitorMark::New);
    EXPECT_EQ(Visit("host.EXAMPLE", 50), VisitorMark::Revisitor);
    EXPECT_TRUE(Space().Revisitors().Contains("host.EXAMPLE"));
    EXPECT_FALSE(Space().Revisitors().Contains("Host.Example")) << "the list compares addresses exactly";
}

TEST_F(RevisitRuleTest, ListedAddressWinsWhateverTheHostName) {
    Options_.SetDnsResolve(true);
    Space().Names().Clear();
    Space().Names().SetResolver(
        [](std::string_view) -> std::optional<std::string> { return std::string("new.example"); });
    Space().Revisitors().Add("192.0.2.44", "old.example");
    EXPECT_EQ(Visit("192.0.2.44", 0), VisitorMark::Revisitor);
    EXPECT_EQ(Space().Revisitors().Find("192.0.2.44")->HostName, "old.example");
    Space().Names().SetResolver({});
    Space().Names().Clear();
}

// The host index must decide exactly as a walk over the whole queue does.
TEST_F(RevisitRuleTest, IndexedRuleAgreesWithThePlainWalk) {
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
        auto entry = LogEntry::Make("", &Server_);
        entry->Time = DateTime{Start.Ms + static_cast<std::int64_t>(random() % 100000) * MsPerSecond};

        ApplyRevisitRule(record, *entry, queue, indexed, threshold);

        std::uint8_t expected = 0;
        if (reference.count(address) != 0) {
            expected = 2;
        } else {
            const auto lock = queue.ReadLock();
            for (const LogEntry* e = queue.Last(); e; e = queue.Prev(e)) {
                if (!EqualsAsciiIgnoreCase(e->Access()->HostName(), host))
                    continue;
                expected = 1;
                if (e->Access()->VisitorState == VisitorKind::Revisitor ||
                    WholeMinutesBetween(e->Time, entry->Time) > threshold) {
                    expected = 2;
                    break;
                }
            }
            if (expected == 2 && !address.empty() && !host.empty())
                reference.insert(address);
        }
        ASSERT_EQ(static_cast<int>(record.VisitorState), expected) << "step " << step;

        entry->SetAccess(std::make_unique<NcsaRecord>());
        entry->Access()->AssignAddressPair(address, host);
        entry->Access()->VisitorState = random() % 10 == 0 ? VisitorKind::Revisitor : record.VisitorState;
        queued.push_back(queue.Append(std::move(entry)));
        if (random() % 3 == 0) {
            const std::size_t victim = random() % queued.size();
            queue.Remove(queued[victim]);
            queued.erase(queued.begin() + static_cast<std::ptrdiff_t>(victim));
        }
    }
    EXPECT_EQ(indexed.Count(), reference.size());
}

// Each host's line times move on by gaps below and above the revisit window (now and then
// back, as the lines of several servers interleave), and accesses leave the queue oldest
// first and at random, so that new, known and returning visitors all occur. Every answer
// must be that of a plain model of the rule over the accesses still queued.
TEST_F(RevisitRuleTest, AnswersFollowAModelWhenTimesSpreadAroundTheWindow) {
    constexpr std::int32_t Window = 30;
    std::mt19937 random(23);
    const std::vector<std::string> hosts = {"a.example", "A.EXAMPLE", "b.example", "10.0.0.1", "c.example"};
    struct Queued {
        std::string Host;
        DateTime Time;
        bool Revisitor;
        LogEntry* Entry;
    };
    EntryQueue queue;
    RevisitorList revisitors;
    std::vector<Queued> queued;
    std::set<std::string> listed;
    std::map<std::string, std::int64_t> lastMs;
    int answers[3] = {};
    for (int step = 0; step < 5000; ++step) {
        const std::string& host = hosts[random() % hosts.size()];
        std::int64_t& ms = lastMs.try_emplace(AsciiLowerCase(host), Start.Ms).first->second;
        const std::int64_t gap = static_cast<std::int64_t>(random() % (2 * Window * 60)) * MsPerSecond;
        ms += random() % 6 == 0 ? -gap / 2 : gap / 4;
        const DateTime time{ms};
        // Addresses seldom come back, so the list decides now and then only.
        const std::string address =
            random() % 4 == 0 ? std::string() : "192.0.2." + std::to_string(random() % 2000);

        int expected = static_cast<int>(VisitorKind::New);
        if (listed.count(address) != 0) {
            expected = static_cast<int>(VisitorKind::Revisitor);
        } else {
            for (const Queued& q : queued) {
                if (!EqualsAsciiIgnoreCase(q.Host, host))
                    continue;
                if (expected == static_cast<int>(VisitorKind::New))
                    expected = static_cast<int>(VisitorKind::Known);
                const std::int64_t apart = std::abs(q.Time.Ms - time.Ms) / MsPerMinute;
                if (q.Revisitor || apart > Window)
                    expected = static_cast<int>(VisitorKind::Revisitor);
            }
            if (expected == static_cast<int>(VisitorKind::Revisitor) && !address.empty() && !host.empty())
                listed.insert(address);
        }

        NcsaRecord record;
        record.AssignAddressPair(address, host);
        record.IsDocument = true;
        auto entry = LogEntry::Make("", &Server_);
        entry->Time = time;
        ApplyRevisitRule(record, *entry, queue, revisitors, Window);
        ASSERT_EQ(static_cast<int>(record.VisitorState), expected) << "step " << step << " host " << host;
        ++answers[expected];

        entry->SetAccess(std::make_unique<NcsaRecord>());
        entry->Access()->AssignAddressPair(address, host);
        entry->Access()->VisitorState = record.VisitorState;
        queued.push_back(
            {host, time, record.VisitorState == VisitorKind::Revisitor, queue.Append(std::move(entry))});
        // The expiry takes the oldest; a deleted server's accesses go from anywhere.
        while (queued.size() > 8 || (!queued.empty() && random() % 3 == 0)) {
            const std::size_t victim = random() % 2 == 0 ? 0 : random() % queued.size();
            queue.Remove(queued[victim].Entry);
            queued.erase(queued.begin() + static_cast<std::ptrdiff_t>(victim));
        }
        // The user empties the list now and then.
        if (step % 500 == 499) {
            revisitors.Clear();
            listed.clear();
        }
    }
    // The answers vary: a model that answers one kind only would pass none of these.
    for (const int kind : {0, 1, 2})
        EXPECT_GT(answers[kind], 500) << "visitor kind " << kind;
}

} // namespace
} // namespace kavel
