#include "acquisition/EntryPipeline.h"

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "base/LineBlocks.h"
#include "platform/Clock.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using kavel::test::Space;

namespace kavel {
namespace {

const DateTime Now = *EncodeDateTime(2024, 3, 7, 12, 0, 0);
const std::filesystem::path CorpusDir = KAVEL_CORPUS_DIR;
constexpr std::int32_t RevisitorMinutes = 30;

// What a line became: "-" for no entry, else what the classification and the revisit rule
// decided, with the line.
std::string OutcomeOf(const LogEntry* entry) {
    if (entry == nullptr)
        return "-";
    const LinePin pin(*entry);
    const AccessRecord& access = *entry->Access();
    return std::to_string(entry->Time.Ms) + (access.IsDocument ? " doc" : " ---") +
           (access.IsSpider ? " spider" : "") + (access.IsBuddy ? " buddy" : "") + " visitor " +
           std::to_string(static_cast<int>(access.VisitorState)) + " " + std::string(entry->Line.View());
}

struct Classified {
    std::vector<std::string> Lines;
    std::vector<Revisitor> Revisitors;
    bool operator==(const Classified&) const = default;
};

// A busy site of a few hundred visitors over a day, its lines in time order, each visitor back
// after gaps on both sides of the revisit threshold so that the rule's answers vary; one line in
// ten from days before (out of the keep period, yet telling that its visitor came back), and
// some lines no parser takes.
std::vector<std::string> HeavyRevisitLines(int count) {
    std::mt19937 random(11);
    std::vector<std::string> lines;
    std::int64_t minute = 0;
    for (int i = 0; i < count; ++i) {
        const auto n = static_cast<unsigned>(random());
        minute += n % 7 == 0 ? 1 : 0;
        if (n % 53 == 0 && i % 10 != 0) {
            lines.push_back("no access at all " + std::to_string(n));
            continue;
        }
        std::int64_t at = n % 10 == 3 ? minute % 600 : 3 * 24 * 60 + 300 + minute;
        std::string host = "10." + std::to_string(n % 4) + "." + std::to_string(n % 97) + ".1";
        // A visitor seen once, then known by a visit out of the keep period, then back.
        if (i % 100 == 50 || i % 100 == 60 || i % 100 == 70) {
            host = "192.168." + std::to_string(i / 100) + ".1";
            at = i % 100 == 60 ? 60 : 3 * 24 * 60 + 300 + minute;
        }
        const std::int64_t day = 3 + at / (24 * 60);
        const std::int64_t hour = at / 60 % 24;
        const std::int64_t min = at % 60;
        char date[64];
        std::snprintf(date, sizeof date, "[%02lld/Mar/2024:%02lld:%02lld:00 +0000]",
                      static_cast<long long>(day), static_cast<long long>(hour), static_cast<long long>(min));
        const bool page = n % 2 == 0 || host.starts_with("192.");
        lines.push_back(
            host + " - - " + date + " \"GET /" +
            (page ? "page" + std::to_string(n % 40) + ".html" : "img/" + std::to_string(n % 9) + ".png") +
            " HTTP/1.1\" 200 " + std::to_string(n % 5000) + " \"-\" \"" +
            (n % 11 == 0 ? "Crawlbot/1.0" : "Mozilla/5.0") + "\"");
    }
    return lines;
}

class EntryPipelineTest : public testing::Test {
protected:
    EntryPipelineTest()
        : Clock_(Now)
        , ScopedClock_(Clock_) {
        Settings_.Space = &Space();
        Settings_.RevisitorAfterMinutes = RevisitorMinutes;
    }

    static void ResetLists() {
        test::ScopedClassificationLists::Reset();
        Space().Documents().Add(".html");
        Space().Documents().Add(".php");
        Space().Spiders().Add("bot", false);
        Space().Buddies().Add("10.1.5.1");
    }

    static Classified Finish(std::vector<std::string> outcomes) {
        Classified run{std::move(outcomes), Space().Revisitors().Items()};
        auto byAddress = [](const Revisitor& a, const Revisitor& b) { return a.Address < b.Address; };
        std::sort(run.Revisitors.begin(), run.Revisitors.end(), byAddress);
        ResetLists();
        return run;
    }

    // Line by line on this thread, as a reader makes live lines.
    Classified Sequential(const std::vector<std::string>& lines, Server& server) {
        ResetLists();
        std::vector<std::string> outcomes;
        for (const std::string& line : lines) {
            std::unique_ptr<LogEntry> entry = MakeEntry(line, server, Settings_);
            outcomes.push_back(OutcomeOf(entry ? Space().Entries().Append(std::move(entry)) : nullptr));
        }
        return Finish(std::move(outcomes));
    }

    Classified Parallel(const std::vector<std::string>& lines, Server& server) {
        ResetLists();
        std::vector<std::string> outcomes;
        const EntryPipeline::Deliver deliver = [&](EntryPipeline::Made& made) {
            EXPECT_EQ(made.Mark, static_cast<std::int64_t>(outcomes.size()));
            EXPECT_EQ(made.Error, "");
            outcomes.push_back(
                OutcomeOf(made.Entry ? Space().Entries().Append(std::move(made.Entry)) : nullptr));
        };
        {
            EntryPipeline pipeline(server, Settings_);
            for (std::size_t i = 0; i < lines.size(); ++i)
                pipeline.Take(lines[i], static_cast<std::int64_t>(i), deliver);
            pipeline.Flush(deliver);
            EXPECT_EQ(pipeline.PendingCount(), 0u);
        }
        return Finish(std::move(outcomes));
    }

    platform::ManualClock Clock_;
    platform::ScopedClock ScopedClock_;
    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    EntrySettings Settings_;
};

// Parsed on a second thread, each line becomes what it becomes when made in turn on one: the
// same entries, classifications and visitor states, and the same revisitors listed.
TEST_F(EntryPipelineTest, MakesWhatTheLinesMakeOneByOne) {
    Server ncsa;
    ncsa.SetTimeDeleteAfter(2);
    const std::vector<std::string> heavy = HeavyRevisitLines(6000);
    const Classified sequential = Sequential(heavy, ncsa);
    EXPECT_EQ(Parallel(heavy, ncsa), sequential);
    // The log is one to make the rule work: every visitor state, revisitors listed, and lines
    // the keep period drops.
    std::vector<int> states(3);
    for (const std::string& outcome : sequential.Lines)
        for (std::size_t state = 0; state < states.size(); ++state)
            states[state] +=
                outcome.find(" doc visitor " + std::to_string(state) + " ") != std::string::npos ? 1 : 0;
    EXPECT_GT(*std::min_element(states.begin(), states.end()), 50);
    EXPECT_GE(sequential.Revisitors.size(), 100u);
    EXPECT_GT(std::count(sequential.Lines.begin(), sequential.Lines.end(), "-"), 500);

    // The corpus, every line kept.
    Server shop;
    shop.SetTimeDeleteAfter(100000);
    std::vector<std::string> corpus;
    for (const char* name : {"logfile_shop_access_log.0", "logfile_access_log.0", "logfile_access_log.1",
                             "logfile_bad_access_log.0"}) {
        const std::vector<std::string> lines = test::ReadLogLines((CorpusDir / name).string());
        corpus.insert(corpus.end(), lines.begin(), lines.end());
    }
    EXPECT_EQ(Parallel(corpus, shop), Sequential(corpus, shop));
    // A W3C log whose directives change the fields on the way.
    Server iis;
    iis.SetLogType(LogFormat::W3c);
    iis.SetTimeDeleteAfter(100000);
    std::vector<std::string> w3c;
    for (const char* name : {"logfile_w3c_big.0", "logfile_w3c.2", "logfile_w3c.1", "logfile_w3c.3"}) {
        const std::vector<std::string> lines = test::ReadLogLines((CorpusDir / name).string());
        w3c.insert(w3c.end(), lines.begin(), lines.end());
    }
    const Classified iisSequential = Sequential(w3c, iis);
    EXPECT_EQ(Parallel(w3c, iis), iisSequential);
    EXPECT_GT(std::count_if(iisSequential.Lines.begin(), iisSequential.Lines.end(),
                            [](const std::string& outcome) { return outcome != "-"; }),
              200);
}

// A hand-over that fails costs that line only: the lines after it, in its batch and in the
// batches after, are handed on still, and the failure is thrown once they are.
TEST_F(EntryPipelineTest, AFailedHandOverLosesNoOtherLine) {
    Server server;
    server.SetTimeDeleteAfter(100000);
    const std::vector<std::string> lines = HeavyRevisitLines(3000);
    std::vector<std::int64_t> handed;
    const EntryPipeline::Deliver deliver = [&](EntryPipeline::Made& made) {
        handed.push_back(made.Mark);
        if (made.Mark == 100 || made.Mark == 2000)
            throw std::runtime_error("full");
    };
    EntryPipeline pipeline(server, Settings_);
    int failures = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        try {
            pipeline.Take(lines[i], static_cast<std::int64_t>(i), deliver);
        } catch (const std::runtime_error&) {
            ++failures;
        }
    }
    try {
        pipeline.Flush(deliver);
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "full");
        ++failures;
    }
    EXPECT_GE(failures, 1);
    EXPECT_EQ(pipeline.PendingCount(), 0u);
    ASSERT_EQ(handed.size(), lines.size());
    for (std::size_t i = 0; i < handed.size(); ++i)
        EXPECT_EQ(handed[i], static_cast<std::int64_t>(i));
}

// A pipeline that goes while lines are on their way frees their entries without handing them
// on (the address sanitizer sees a leak or a double free).
TEST_F(EntryPipelineTest, LinesNotHandedOnGoWithThePipeline) {
    Server server;
    server.SetTimeDeleteAfter(100000);
    const std::vector<std::string> lines = HeavyRevisitLines(3000);
    std::size_t handed = 0;
    {
        EntryPipeline pipeline(server, Settings_);
        for (const std::string& line : lines)
            pipeline.Take(line, 0, [&](EntryPipeline::Made&) { ++handed; });
        EXPECT_EQ(handed + pipeline.PendingCount(), lines.size());
        EXPECT_GT(pipeline.PendingCount(), 0u);
    }
    EXPECT_LT(handed, lines.size());
    EXPECT_EQ(Space().Entries().Count(), 0u);
}

} // namespace
} // namespace kavel
