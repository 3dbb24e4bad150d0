#include "acquisition/AlertMonitor.h"

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/TextPattern.h"
#include "platform/Clock.h"
#include "support/ReaderTestSupport.h"
#include "support/TestWorkspace.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>

using kavel::test::Space;

namespace kavel {
namespace {

// 10 March 2024, 12:00 local time.
constexpr DateTime Noon{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

DateTime At(int minute, int second = 0, int ms = 0) {
    return DateTime{Noon.Ms + minute * MsPerMinute + second * MsPerSecond + ms};
}

AlertRule Rule(const std::string& line) {
    std::optional<AlertRule> rule = ParseAlertRule(line);
    EXPECT_TRUE(rule) << line;
    return rule.value_or(AlertRule{});
}

std::string NcsaLine(const std::string& address, const std::string& method, const std::string& page,
                     int status) {
    return address + " - - [10/Mar/2024:11:59:00 +0000] \"" + method + " " + page + " HTTP/1.1\" " +
           std::to_string(status) + " 100 \"-\" \"x\"";
}

class AlertMonitorTest : public testing::Test {
protected:
    AlertMonitorTest()
        : Clock_(Noon)
        , Scoped_(Clock_)
        , Monitor_(Space(), [this](const FiredAlert& alert) { Fired.push_back(alert); }) {
        Space().Servers().Clear();
        Www = &AddServer("www");
        Shop = &AddServer("shop");
        Monitor_.SetFirstPassCheck([this](const Server& server) { return !FirstPassPending.count(&server); });
    }
    ~AlertMonitorTest() override {
        Space().Entries().Clear();
        Kept_.clear();
        Space().Servers().Clear();
    }

    Server& AddServer(const std::string& name) {
        auto server = std::make_unique<Server>();
        server->SetName(name);
        server->SetActive(true);
        return Space().Servers().Add(std::move(server));
    }

    // One access of the server taken over at the clock's time.
    void Access(Server& server, int status = 200, const std::string& page = "/index.html",
                const std::string& address = "192.0.2.1", const std::string& method = "GET") {
        auto entry = LogEntry::Make(NcsaLine(address, method, page, status), &server);
        ASSERT_TRUE(ParseEntry(*entry, EntrySettings::Of(Space()), KeepPeriod::Ignored));
        Monitor_.ObserveEntry(*entry, Clock_.Now(), !FirstPassPending.count(&server));
        Kept_.push_back(std::move(entry));
    }
    void AccessAt(DateTime time, Server& server, int status = 200) {
        Clock_.Set(time);
        Access(server, status);
    }
    void TickAt(DateTime time) {
        Clock_.Set(time);
        Monitor_.Tick(time);
    }
    void SetRules(const std::vector<std::string>& lines) {
        std::vector<AlertRule> rules;
        for (const std::string& line : lines)
            rules.push_back(Rule(line));
        Monitor_.SetRules(rules);
    }

    platform::ManualClock Clock_;
    platform::ScopedClock Scoped_;
    AlertMonitor Monitor_;
    std::vector<FiredAlert> Fired;
    std::set<const Server*> FirstPassPending;
    Server* Www = nullptr;
    Server* Shop = nullptr;

private:
    std::vector<std::unique_ptr<LogEntry>> Kept_;
};

// A condition, an access that counts for it and one that does not.
struct CountCase {
    const char* Name;
    const char* Condition;
    int Status;
    const char* Page;
    const char* Address;
    int OtherStatus;
    const char* OtherPage;
    const char* OtherAddress;
};

class AlertMonitorCounts : public AlertMonitorTest, public testing::WithParamInterface<CountCase> {};

TEST_P(AlertMonitorCounts, FiresAtTheThresholdAndNotBefore) {
    const CountCase& c = GetParam();
    SetRules({std::string("r;*;") + c.Condition + ";3;5;10;1;notify;"});
    for (int i = 0; i < 4; ++i)
        Access(*Www, c.OtherStatus, c.OtherPage, c.OtherAddress);
    Access(*Www, c.Status, c.Page, c.Address);
    Access(*Www, c.Status, c.Page, c.Address);
    EXPECT_TRUE(Fired.empty());
    Access(*Www, c.Status, c.Page, c.Address);
    ASSERT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0].Count, 3u);
    EXPECT_EQ(Fired[0].Server, "www");
    EXPECT_EQ(Fired[0].Rule.Name, "r");
    ASSERT_TRUE(Fired[0].Access);
    EXPECT_EQ(Fired[0].Access->Page, c.Page);
    EXPECT_EQ(Fired[0].Access->Status, c.Status);
    EXPECT_EQ(Fired[0].Time, Noon);
}

// Pages on which a backtracking engine would take ages to fail "(a+)+$" (the one with "!").
const std::string LongRunOfA = "/" + std::string(50000, 'a');
const std::string LongRunOfAThenBang = LongRunOfA + "!";

INSTANTIATE_TEST_SUITE_P(
    Conditions, AlertMonitorCounts,
    testing::Values(CountCase{"Status5xxLow", "status:5xx", 500, "/a", "192.0.2.1", 499, "/a", "192.0.2.1"},
                    CountCase{"Status5xxHigh", "status:5xx", 599, "/a", "192.0.2.1", 600, "/a", "192.0.2.1"},
                    CountCase{"Status4xx", "status:4xx", 404, "/a", "192.0.2.1", 500, "/a", "192.0.2.1"},
                    CountCase{"StatusCode", "status:404", 404, "/a", "192.0.2.1", 403, "/a", "192.0.2.1"},
                    CountCase{"ExceptionParentPath", "exception:160,162", 200, "/../etc/passwd", "192.0.2.1",
                              200, "/etc/passwd", "192.0.2.1"},
                    CountCase{"ExceptionStatusCode", "exception:404", 404, "/a", "192.0.2.1", 200, "/a",
                              "192.0.2.1"},
                    CountCase{"MatchPage", "match:page:WP-LOGIN", 200, "/wp-login.php", "192.0.2.1", 200,
                              "/wp-admin.php", "192.0.2.1"},
                    CountCase{"MatchAddress", "match:address:203.0.113.", 200, "/a", "203.0.113.9", 200, "/a",
                              "192.0.2.1"},
                    // The pattern is a regular expression, anchored where it says so.
                    CountCase{"MatchPageRegex", "match:page:^/wp-(login|admin)\\.php$", 200, "/WP-Admin.php",
                              "192.0.2.1", 200, "/x/wp-login.php", "192.0.2.1"},
                    CountCase{"MatchPageBacktrackingPattern", "match:page:(a+)+$", 200, LongRunOfA.c_str(),
                              "192.0.2.1", 200, LongRunOfAThenBang.c_str(), "192.0.2.1"}),
    [](const testing::TestParamInfo<CountCase>& param) { return std::string(param.param.Name); });

TEST_F(AlertMonitorTest, SpikeCountsEveryAccess) {
    SetRules({"spike;*;rate:above;3;1;10;1;;"});
    Access(*Www, 200);
    Access(*Www, 404);
    EXPECT_TRUE(Fired.empty());
    Access(*Www, 500);
    EXPECT_EQ(Fired.size(), 1u);
}

TEST_F(AlertMonitorTest, WindowEdges) {
    SetRules({"r;*;status:5xx;2;5;0;1;;"});
    // The window is the current clock minute and the four before it: an access of 12:00:30
    // counts up to 12:04:59 and no longer from 12:05:00 on.
    AccessAt(At(0, 30), *Www, 500);
    AccessAt(At(0, 30), *Shop, 500);
    AccessAt(At(4, 59, 999), *Www, 500);
    ASSERT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0].Count, 2u);
    AccessAt(At(5), *Shop, 500);
    EXPECT_EQ(Fired.size(), 1u);
}

TEST_F(AlertMonitorTest, CooldownSilencesARuleThatFired) {
    SetRules({"r;*;status:5xx;1;5;10;1;;", "eager;*;status:404;1;5;0;1;;"});
    AccessAt(At(0), *Www, 500);
    AccessAt(At(9, 59, 999), *Www, 500);
    EXPECT_EQ(Fired.size(), 1u);
    AccessAt(At(10), *Www, 500);
    EXPECT_EQ(Fired.size(), 2u);
    // A cool-down of 0: every access at the threshold fires.
    Fired.clear();
    Access(*Www, 404);
    Access(*Www, 404);
    EXPECT_EQ(Fired.size(), 2u);
}

TEST_F(AlertMonitorTest, EachServerIsJudgedOnItsOwn) {
    SetRules({"all;*;status:5xx;3;5;10;1;;", "shop only;shop;status:5xx;1;5;10;1;;"});
    Access(*Www, 500);
    Access(*Www, 500);
    Access(*Shop, 500);
    ASSERT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0].Rule.Name, "shop only");
    EXPECT_EQ(Fired[0].Server, "shop");
    Access(*Www, 500);
    ASSERT_EQ(Fired.size(), 2u);
    EXPECT_EQ(Fired[1].Server, "www");
}

TEST_F(AlertMonitorTest, HistoryOfTheFirstPassDoesNotCount) {
    SetRules({"r;*;status:5xx;1;5;10;1;;"});
    FirstPassPending.insert(Www);
    Access(*Www, 500);
    Access(*Www, 500);
    EXPECT_TRUE(Fired.empty());
    FirstPassPending.clear();
    Access(*Www, 500);
    EXPECT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0].Count, 1u);
}

TEST_F(AlertMonitorTest, SilenceFiresAWholeWindowAfterTheFirstPassAndAgainAfterTheCooldown) {
    SetRules({"quiet;www;rate:below;1;2;10;1;;"});
    FirstPassPending.insert(Www);
    Access(*Www);
    // Before the first pass ended nothing is judged, however long it takes.
    TickAt(At(0));
    TickAt(At(30));
    EXPECT_TRUE(Fired.empty());
    FirstPassPending.clear();
    TickAt(At(40));
    TickAt(At(41, 59, 999));
    EXPECT_TRUE(Fired.empty());
    TickAt(At(42));
    ASSERT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0].Count, 0u);
    EXPECT_FALSE(Fired[0].Access);
    // Once per episode within the cool-down, again after it.
    TickAt(At(43));
    TickAt(At(51, 59, 999));
    EXPECT_EQ(Fired.size(), 1u);
    TickAt(At(52));
    EXPECT_EQ(Fired.size(), 2u);
    // Traffic ends the episode; the next silence fires once the cool-down allows.
    AccessAt(At(52, 30), *Www);
    TickAt(At(53));
    TickAt(At(55));
    EXPECT_EQ(Fired.size(), 2u);
    TickAt(At(62));
    EXPECT_EQ(Fired.size(), 3u);
}

TEST_F(AlertMonitorTest, SilenceNeedsTrafficAnActiveServerAndFewerThanThreshold) {
    SetRules({"quiet;*;rate:below;3;2;0;1;;"});
    TickAt(At(0));
    AccessAt(At(1), *Www);
    AccessAt(At(1, 10), *Www);
    AccessAt(At(1, 20), *Www);
    TickAt(At(2));
    EXPECT_TRUE(Fired.empty()) << "three accesses in the window are not fewer than three";
    TickAt(At(3));
    ASSERT_EQ(Fired.size(), 1u) << "shop never had traffic and never fires";
    EXPECT_EQ(Fired[0].Server, "www");
    EXPECT_EQ(Fired[0].Count, 0u);
    // Two accesses: still fewer than three, the same episode.
    AccessAt(At(3, 10), *Www);
    AccessAt(At(3, 20), *Www);
    TickAt(At(4));
    EXPECT_EQ(Fired.size(), 1u);
    // A third ends the episode; the next silence is a new one.
    AccessAt(At(4, 30), *Www);
    TickAt(At(4, 40));
    EXPECT_EQ(Fired.size(), 1u);
    TickAt(At(6));
    EXPECT_EQ(Fired.size(), 2u);
    // A server switched off is not watched; switched on, it needs a whole window again.
    Www->SetActive(false);
    TickAt(At(20));
    Www->SetActive(true);
    TickAt(At(21));
    TickAt(At(22, 59));
    EXPECT_EQ(Fired.size(), 2u);
    TickAt(At(23));
    EXPECT_EQ(Fired.size(), 3u);
}

TEST_F(AlertMonitorTest, MissingLogFiresAfterTheWholeWindow) {
    SetRules({"gone;*;reader:missing;1;5;0;1;;"});
    Shop->SetLogFileMissing(true);
    TickAt(At(0));
    TickAt(At(4, 59, 999));
    EXPECT_TRUE(Fired.empty());
    TickAt(At(5));
    ASSERT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0].Server, "shop");
    EXPECT_EQ(Fired[0].Count, 5u);
    // A cool-down of 0: once per episode.
    TickAt(At(30));
    EXPECT_EQ(Fired.size(), 1u);
    Shop->SetLogFileMissing(false);
    TickAt(At(31));
    Shop->SetLogFileMissing(true);
    TickAt(At(32));
    TickAt(At(36, 59));
    EXPECT_EQ(Fired.size(), 1u);
    TickAt(At(37));
    EXPECT_EQ(Fired.size(), 2u);
}

TEST_F(AlertMonitorTest, UnchangedRulesKeepTheirCountsChangedOnesStartAfresh) {
    SetRules({"a;*;status:5xx;3;5;10;1;;", "b;*;status:5xx;3;5;10;1;;", "off;*;status:5xx;1;5;10;0;;"});
    Access(*Www, 500);
    Access(*Www, 500);
    SetRules({"a;*;status:5xx;3;5;10;1;;", "b;*;status:5xx;3;5;11;1;;", "off;*;status:5xx;1;5;10;0;;"});
    Access(*Www, 500);
    ASSERT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0].Rule.Name, "a");
}

TEST_F(AlertMonitorTest, RenamedServerIsJudgedByTheRulesOfItsNewName) {
    SetRules({"r;www;status:5xx;1;5;10;1;;"});
    Www->SetName("web");
    TickAt(At(0));
    Access(*Www, 500);
    EXPECT_TRUE(Fired.empty());
    Www->SetName("www");
    TickAt(At(1));
    Access(*Www, 500);
    ASSERT_EQ(Fired.size(), 1u);
}

TEST_F(AlertMonitorTest, PatternThatDoesNotCompileNeverFires) {
    SetRules({"m;*;match:page:(;1;5;10;1;;", "ok;*;match:page:x;1;5;10;1;;"});
    const std::vector<std::string> errors = Monitor_.PatternErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("missing )"), std::string::npos) << errors[0];
    EXPECT_EQ(errors[1], "");
    Access(*Www, 200, "/(");
    EXPECT_TRUE(Fired.empty());
}

TEST_F(AlertMonitorTest, TakeOverLooksAtEachQueuedEntryOnce) {
    SetRules({"r;*;status:5xx;2;5;10;1;;"});
    test::ScopedNoNameLookups noLookups;
    FirstPassPending.insert(Shop);
    const auto queue = [](Server& server, int status) {
        auto entry = LogEntry::Make(NcsaLine("192.0.2.1", "GET", "/", status), &server);
        EXPECT_TRUE(ParseEntry(*entry, EntrySettings::Of(Space()), KeepPeriod::Ignored));
        return Space().Entries().Append(std::move(entry));
    };
    LogEntry* first = queue(*Www, 500);
    queue(*Shop, 500);
    queue(*Shop, 500);
    Monitor_.Observe(*first);
    // The realtime view hands the same entries in again with a newer one.
    queue(*Www, 200);
    Monitor_.Observe(*first);
    EXPECT_TRUE(Fired.empty());
    queue(*Www, 503);
    Monitor_.Observe(*first);
    ASSERT_EQ(Fired.size(), 1u);
    EXPECT_EQ(Fired[0].Server, "www");
}

} // namespace
} // namespace kavel
