#include "acquisition/RotatedLogFiles.h"

#include "platform/Clock.h"
#include "support/ReaderTestSupport.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

using test::AppendLog;
using test::LogFolder;
using test::WriteLog;

constexpr std::int64_t Grace = 30 * MsPerSecond;

// The file opened and read to its end, as the reader leaves a log it finds rotated.
FollowedFile OpenedAtEnd(const std::filesystem::path& file) {
    FollowedFile followed;
    followed.Reader->Open(file);
    std::string line;
    while (followed.Reader->ReadCompleteLine(line)) {
    }
    followed.Holding = !followed.Reader->AtEnd();
    followed.RestartPos = followed.Reader->Position();
    followed.Reader->CaptureTail(followed.Reader->Position());
    return followed;
}

// Reads every complete line of each followed file, as the reader does, and collects them.
struct LineCollector {
    std::vector<std::string> Lines;
    int Reads = 0;
    bool operator()(FollowedFile& file) {
        ++Reads;
        std::string line;
        while (file.Reader->ReadCompleteLine(line))
            Lines.push_back(line);
        file.Holding = !file.Reader->AtEnd();
        return true;
    }
};

class RotatedLogFilesTest : public ::testing::Test {
protected:
    platform::ManualClock Clock{DateTime{1'700'000'000'000}};
    platform::ScopedClock ClockInstalled{Clock};
    LogFolder Folder;
};

// A rotated file is read while it grows and given up once its size has not changed for the
// grace period, counted from the last pass that saw it grow.
TEST_F(RotatedLogFilesTest, AFileIsFollowedUntilItHasNotGrownForTheGracePeriod) {
    struct Case {
        const char* Name;
        std::int64_t QuietMs;
        bool GrowsFirst;
        bool Followed;
    };
    const Case cases[] = {
        {"just under the grace", Grace - 1, false, true},
        {"the grace exactly", Grace, false, false},
        {"long quiet", 10 * Grace, false, false},
        {"grown just before", 10 * Grace, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto old = Folder / "access.log.1";
        WriteLog(old, "one\n");
        RotatedLogFiles rotated(Grace);
        EXPECT_EQ(rotated.Add(OpenedAtEnd(old)), 0u);
        Clock.Advance(c.QuietMs);
        if (c.GrowsFirst)
            AppendLog(old, "two\n");
        LineCollector collect;
        EXPECT_EQ(rotated.ReadEach(std::ref(collect)), 0u);
        EXPECT_EQ(collect.Reads, 1);
        EXPECT_EQ(collect.Lines, c.GrowsFirst ? std::vector<std::string>{"two"} : std::vector<std::string>{});
        EXPECT_EQ(rotated.Count(), c.Followed ? 1u : 0u);
    }
}

// What arrives while a pass reads counts as growth: the file is read once more before it can
// be given up.
TEST_F(RotatedLogFilesTest, AFileThatGrowsDuringTheReadIsNotGivenUp) {
    const auto old = Folder / "access.log.1";
    WriteLog(old, "one\n");
    RotatedLogFiles rotated(Grace);
    rotated.Add(OpenedAtEnd(old));
    Clock.Advance(2 * Grace);
    LineCollector collect;
    rotated.ReadEach([&](FollowedFile& file) {
        collect(file);
        AppendLog(old, "late\n");
        return true;
    });
    ASSERT_EQ(rotated.Count(), 1u);
    rotated.ReadEach(std::ref(collect));
    EXPECT_EQ(collect.Lines, std::vector<std::string>{"late"});
}

TEST_F(RotatedLogFilesTest, AnUnterminatedLineGivenUpIsCounted) {
    const auto old = Folder / "access.log.1";
    WriteLog(old, "one\nhalf a li");
    for (const std::int64_t grace : {std::int64_t{0}, Grace}) {
        SCOPED_TRACE(grace);
        RotatedLogFiles rotated(grace);
        std::uint64_t given = rotated.Add(OpenedAtEnd(old));
        Clock.Advance(Grace);
        LineCollector collect;
        given += rotated.ReadEach(std::ref(collect));
        EXPECT_EQ(given, 1u);
        EXPECT_TRUE(rotated.Empty());
    }
}

// A file cut back under what was read holds other lines now: it is given up unread.
TEST_F(RotatedLogFilesTest, AFileCutBackIsGivenUpUnread) {
    const auto old = Folder / "access.log.1";
    WriteLog(old, "one\ntwo\n");
    RotatedLogFiles rotated(Grace);
    rotated.Add(OpenedAtEnd(old));
    std::filesystem::resize_file(old, 0);
    AppendLog(old, "other\nlines\nnow\n");
    LineCollector collect;
    rotated.ReadEach(std::ref(collect));
    EXPECT_EQ(collect.Reads, 0);
    EXPECT_TRUE(rotated.Empty());
}

TEST_F(RotatedLogFilesTest, TheOldestOfTooManyFollowedFilesIsGivenUp) {
    RotatedLogFiles rotated(Grace);
    for (std::size_t i = 0; i <= RotatedLogFiles::MaxFollowed; ++i) {
        const auto file = Folder / ("access.log." + std::to_string(i));
        WriteLog(file, i == 0 ? "half" : "whole\n");
        EXPECT_EQ(rotated.Add(OpenedAtEnd(file)), i == RotatedLogFiles::MaxFollowed ? 1u : 0u);
    }
    EXPECT_EQ(rotated.Count(), RotatedLogFiles::MaxFollowed);
}

// A clock set back must not keep a quiet file followed for ever, nor give a growing one up.
TEST_F(RotatedLogFilesTest, AClockSetBackStartsTheQuietTimeAgain) {
    const auto old = Folder / "access.log.1";
    WriteLog(old, "one\n");
    RotatedLogFiles rotated(Grace);
    rotated.Add(OpenedAtEnd(old));
    Clock.Advance(-3600 * MsPerSecond);
    LineCollector collect;
    rotated.ReadEach(std::ref(collect));
    EXPECT_EQ(rotated.Count(), 1u);
    Clock.Advance(Grace);
    rotated.ReadEach(std::ref(collect));
    EXPECT_TRUE(rotated.Empty());
}

// The file that comes back under the log's name: one still followed is read on by its handle,
// one given up goes on at its mark when its identity, head and length still fit.
TEST_F(RotatedLogFilesTest, AFileThatComesBackGoesOnWhereItStopped) {
    const std::string read = "line 1\nline 2\n";
    struct Case {
        const char* Name;
        std::int64_t Grace;
        std::string Held;
        std::function<void(const std::filesystem::path&)> Meanwhile;
        Resumption Expected;
        std::int64_t Position;
    };
    const auto position = static_cast<std::int64_t>(read.size());
    const Case cases[] = {
        {"followed", Grace, "", [](const auto& f) { AppendLog(f, "line 3\n"); }, Resumption::Followed,
         position},
        {"given up, then appended", 0, "", [](const auto& f) { AppendLog(f, "line 3\n"); },
         Resumption::AtMark, position},
        {"given up holding a line", 0, "line 3 ha", [](const auto& f) { AppendLog(f, "lf written\n"); },
         Resumption::AtMarkWithHeldLine, position},
        // The same inode with other bytes: a deleted file's inode used again for a fresh log.
        {"rewritten in place", 0, "",
         [](const auto& f) {
             std::filesystem::resize_file(f, 0);
             AppendLog(f, "LINE 1\nline 2\nline 3\n");
         },
         Resumption::None, 0},
        {"shorter than the mark", 0, "", [](const auto& f) { std::filesystem::resize_file(f, 7); },
         Resumption::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto log = Folder / "access.log";
        WriteLog(log, read + c.Held);
        RotatedLogFiles rotated(c.Grace);
        rotated.Add(OpenedAtEnd(log));
        c.Meanwhile(log);
        FollowedFile opened;
        opened.Reader->Open(log);
        EXPECT_EQ(rotated.Resume(opened), c.Expected);
        EXPECT_EQ(opened.Reader->Position(), c.Position);
        EXPECT_EQ(opened.RestartPos, c.Expected == Resumption::None ? 0 : c.Position);
        // Each is taken back once: a second opening is a new file.
        FollowedFile again;
        again.Reader->Open(log);
        EXPECT_EQ(rotated.Resume(again), Resumption::None);
    }
}

// An unrelated file is new, and the marks of other files stay.
TEST_F(RotatedLogFilesTest, AnotherFileIsNew) {
    const auto first = Folder / "a.log";
    const auto second = Folder / "b.log";
    WriteLog(first, "a\n");
    WriteLog(second, "b\n");
    RotatedLogFiles rotated(0);
    rotated.Add(OpenedAtEnd(first));
    FollowedFile other;
    other.Reader->Open(second);
    EXPECT_EQ(rotated.Resume(other), Resumption::None);
    FollowedFile back;
    back.Reader->Open(first);
    EXPECT_EQ(rotated.Resume(back), Resumption::AtMark);
}

} // namespace
} // namespace kavel
