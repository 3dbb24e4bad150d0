#include "acquisition/AlertCommandRunner.h"

#include "base/CommandLine.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Tone.h"
#include "support/ReaderTestSupport.h"
#include "support/RecorderSupport.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <map>

namespace kavel {
namespace {

using namespace std::chrono_literals;
using test::TempFolder;

constexpr DateTime Noon{DaysFromCivil(2024, 3, 10) * MsPerDay + 12 * MsPerHour};

// A word of a command line that SplitCommandLine gives back as it is.
std::string Quoted(const std::string& word) {
    return JoinCommandLine({word});
}

FiredAlert Alert(std::uint64_t id, const std::string& rule, const std::string& command) {
    FiredAlert alert;
    alert.Id = id;
    alert.Rule.Name = rule;
    alert.Rule.Actions.Run = true;
    alert.Rule.Command = command;
    alert.Server = "www";
    alert.Count = 3;
    alert.Time = Noon;
    return alert;
}

class AlertCommandRunnerTest : public testing::Test {
protected:
    AlertCommandRunnerTest()
        : Dispatcher_(Loop_)
        , Runner_(
              [this](std::uint64_t id, const platform::ProcessOutcome& outcome) { Results[id] = outcome; }) {}

    bool WaitForResult(std::uint64_t id) {
        return test::RunLoopUntil(Loop_, [&] { return Results.count(id) > 0; });
    }
    std::string Recorder() const { return Quoted(KAVEL_RECORDER_PATH); }

    platform::LoopDispatcher Loop_;
    platform::ScopedDispatcher Dispatcher_;
    std::map<std::uint64_t, platform::ProcessOutcome> Results;
    AlertCommandRunner Runner_;
};

// Log text that a shell would act on, in every placeholder: the command gets exactly its bytes
// (NUL made visible, a megabyte cut) and nothing else runs.
TEST_F(AlertCommandRunnerTest, HostileLogTextArrivesAsArgumentBytesOnly) {
    TempFolder folder;
    const std::string marker = (folder / "pwned").string();
    const std::vector<std::string> hostile = {
        "$(touch " + marker + ")",        "; touch " + marker + "; rm -rf " + folder.Path().string(),
        "`touch " + marker + "`",         "a\nb\r\nc' \" \\ {rule} %s $HOME *",
        std::string("before\0after", 12), std::string(1 << 20, 'M'),
    };
    std::uint64_t id = 0;
    for (const std::string& text : hostile) {
        ++id;
        const std::filesystem::path out = folder / ("call" + std::to_string(id));
        FiredAlert alert = Alert(id, text,
                                 Recorder() + " record " + Quoted(out.string()) +
                                     " {rule} {server} {count} {time} {address} {page} {status}"
                                     " \"<{page}>\" plain");
        alert.Server = text;
        alert.Access = AlertAccess{Noon, text, text, "GET", text, 503};
        ASSERT_EQ(Runner_.Run(alert), AlertCommandRunner::Start::Started);
        ASSERT_TRUE(WaitForResult(id));
        EXPECT_EQ(Results[id].Ending, platform::ProcessOutcome::End::Exited);
        EXPECT_EQ(Results[id].ExitCode, 0);

        const std::string safe = ArgumentSafe(text);
        const auto call = test::ReadRecordedCall(out);
        ASSERT_TRUE(call);
        EXPECT_EQ(call->Arguments, (std::vector<std::string>{safe, safe, "3", "2024-03-10 12:00:00", safe,
                                                             safe, "503", "<" + safe + ">", "plain"}));
        const std::map<std::string, std::string> environment = {
            {"KAVEL_RULE", safe},    {"KAVEL_SERVER", safe},
            {"KAVEL_COUNT", "3"},    {"KAVEL_TIME", "2024-03-10 12:00:00"},
            {"KAVEL_ADDRESS", safe}, {"KAVEL_PAGE", safe},
            {"KAVEL_STATUS", "503"},
        };
        for (const auto& [name, value] : environment)
            EXPECT_EQ(call->Environment.at(name), value) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_EQ(ArgumentSafe(hostile[4]), "before\\0after");
}

TEST_F(AlertCommandRunnerTest, OneRunPerRuleAtATime) {
    TempFolder folder;
    const std::string go = (folder / "go").string();
    const std::string mark = (folder / "mark").string();
    const std::string command = Recorder() + " wait " + Quoted(go) + " " + Quoted(mark);
    ASSERT_EQ(Runner_.Run(Alert(1, "slow", command)), AlertCommandRunner::Start::Started);
    ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(mark); }));
    EXPECT_TRUE(Runner_.Running("slow"));
    // The same rule fires again while its command runs: nothing more is started.
    EXPECT_EQ(Runner_.Run(Alert(2, "slow", command)), AlertCommandRunner::Start::Busy);
    // Another rule runs its own command meanwhile.
    ASSERT_EQ(Runner_.Run(Alert(3, "other", Recorder() + " say 0 hallo")),
              AlertCommandRunner::Start::Started);
    ASSERT_TRUE(WaitForResult(3));
    EXPECT_EQ(Results[3].Output, std::vector<std::string>{"hallo"});
    test::WriteBytes(go, "1");
    ASSERT_TRUE(WaitForResult(1));
    EXPECT_FALSE(Runner_.Running("slow"));
    EXPECT_EQ(Results.count(2), 0u);
    EXPECT_EQ(Runner_.Run(Alert(4, "slow", Recorder() + " say 7")), AlertCommandRunner::Start::Started);
    ASSERT_TRUE(WaitForResult(4));
    EXPECT_EQ(Results[4].ExitCode, 7);
}

TEST_F(AlertCommandRunnerTest, TimeLimitEndsTheRunAndFreesTheRule) {
    TempFolder folder;
    Runner_.SetTimeLimit(200ms);
    ASSERT_EQ(Runner_.Run(Alert(1, "hang", Recorder() + " hang " + Quoted((folder / "pids").string()))),
              AlertCommandRunner::Start::Started);
    ASSERT_TRUE(WaitForResult(1));
    EXPECT_EQ(Results[1].Ending, platform::ProcessOutcome::End::TimedOut);
    EXPECT_FALSE(Runner_.Running("hang"));
}

TEST_F(AlertCommandRunnerTest, CommandThatCannotRunIsReportedOnceAndNotRetried) {
    EXPECT_EQ(Runner_.Run(Alert(1, "r", "")), AlertCommandRunner::Start::NoCommand);
    EXPECT_EQ(Runner_.Run(Alert(2, "r", "\"unclosed")), AlertCommandRunner::Start::NoCommand);
    EXPECT_EQ(Runner_.Run(Alert(3, "r", "/nonexistent/kavel-alarm {page}")),
              AlertCommandRunner::Start::NotStarted);
    ASSERT_TRUE(WaitForResult(3));
    EXPECT_EQ(Results[3].Ending, platform::ProcessOutcome::End::NotStarted);
    EXPECT_FALSE(Runner_.Running("r"));
    // Nothing runs again by itself; the next alert tries once more.
    Loop_.ProcessPendingEvents();
    EXPECT_EQ(Results.size(), 1u);
    // The program's name is never filled from the log: "{page}" stays a name that does not exist.
    FiredAlert alert = Alert(4, "r", "{page}");
    alert.Access = AlertAccess{Noon, "", "", "GET", "/bin/true", 200};
    EXPECT_EQ(Runner_.Run(alert), AlertCommandRunner::Start::NotStarted);
}

TEST(SoundAlertBeep, PlaysTheDoubleTone) {
    platform::RecordingTone tone;
    platform::ScopedTone scoped(tone);
    SoundAlertBeep();
    EXPECT_EQ(tone.Beeps(), (std::vector<platform::RecordingTone::Sound>{{1000, 100}, {500, 100}}));
}

} // namespace
} // namespace kavel
