#include "acquisition/TruncatedLogCopy.h"

#include "support/ReaderTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kavel {
namespace {

using namespace std::chrono_literals;
using test::AppendLog;
using test::LogFolder;
using test::WriteLog;

std::string Lines(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i)
        text +=
            "10.0.0.1 - - [10/Mar/2024:11:00:00 +0000] \"GET /p" + std::to_string(i) + " HTTP/1.1\" 200 1\n";
    return text;
}

void SetModified(const std::filesystem::path& file, std::chrono::system_clock::time_point when) {
    const auto since = when.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const timespec times[2] = {
        {seconds.count(),
         static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count())},
        {seconds.count(),
         static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count())}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// The log was read to the end of line 20 and then cut back; which file of its folder holds what
// followed?
TEST(TruncatedLogCopyTest, TheNewestRecentCopyHoldingWhatWasReadIsFound) {
    const std::string read = Lines(1, 20);
    const std::string late = Lines(21, 25);
    struct File {
        std::string Name;
        std::string Content;
        std::chrono::minutes Age{0};
    };
    struct Case {
        const char* Name;
        std::vector<File> Files;
        std::string Expected;
    };
    const Case cases[] = {
        {"numbered copy", {{"access.log.1", read + late}}, "access.log.1"},
        {"dateext copy", {{"access.log-20240310", read + late}}, "access.log-20240310"},
        {"copy with nothing after the read part", {{"access.log.1", read}}, "access.log.1"},
        {"no copy: compressed at once", {{"access.log.1.gz", "\x1f\x8b compressed"}}, ""},
        {"copy shorter than what was read", {{"access.log.1", read.substr(0, read.size() - 1)}}, ""},
        {"other bytes before the read position", {{"error.log", Lines(101, 120) + late}}, ""},
        {"the same bytes one line further on", {{"other.log", Lines(0, 25)}}, ""},
        {"copy written before the last minutes", {{"access.log.1", read + late, 11min}}, ""},
        {"two copies: the newer one",
         {{"access.log.2", read + "older copy\n", 3min}, {"access.log.1", read + late, 1min}},
         "access.log.1"},
    };
    const auto now = std::chrono::system_clock::now();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LogFolder folder;
        const auto log = folder / "access.log";
        WriteLog(log, read);
        LogFileReader reader;
        reader.Open(log);
        while (!reader.AtEnd())
            reader.ReadLine();
        reader.CaptureTail(reader.Position());
        for (const File& file : c.Files) {
            WriteLog(folder / file.Name, file.Content);
            SetModified(folder / file.Name, now - file.Age);
        }
        std::filesystem::resize_file(log, 0);
        AppendLog(log, Lines(26, 26));

        const std::unique_ptr<LogFileReader> copy = OpenTruncatedLogCopy(reader, log, now);
        if (c.Expected.empty()) {
            EXPECT_EQ(copy, nullptr);
            continue;
        }
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->Identity(), IdentityOf(folder / c.Expected));
    }
}

// Nothing read means nothing to recover: an empty tail would match every file.
TEST(TruncatedLogCopyTest, NothingIsSearchedBeforeAnythingWasRead) {
    LogFolder folder;
    WriteLog(folder / "access.log", "");
    WriteLog(folder / "access.log.1", Lines(1, 3));
    LogFileReader reader;
    reader.Open(folder / "access.log");
    reader.CaptureTail(0);
    EXPECT_EQ(OpenTruncatedLogCopy(reader, folder / "access.log"), nullptr);
}

// Only a regular file of the folder counts: a link planted there may lead anywhere.
TEST(TruncatedLogCopyTest, ALinkToAFileElsewhereIsNotTheCopy) {
    LogFolder folder;
    const auto log = folder / "access.log";
    LogFolder elsewhere;
    WriteLog(log, Lines(1, 20));
    LogFileReader reader;
    reader.Open(log);
    while (!reader.AtEnd())
        reader.ReadLine();
    reader.CaptureTail(reader.Position());
    WriteLog(elsewhere / "copy", Lines(1, 22));
    std::filesystem::create_symlink(elsewhere / "copy", folder / "access.log.1");
    std::filesystem::resize_file(log, 0);
    AppendLog(log, Lines(30, 60));
    EXPECT_EQ(OpenTruncatedLogCopy(reader, log), nullptr);
}

// A log named through a link (a link in the server's folder to the log elsewhere) is copied beside
// the file itself.
TEST(TruncatedLogCopyTest, TheCopyOfALogNamedThroughALinkIsBesideTheFile) {
    LogFolder linkFolder;
    LogFolder logFolder;
    const auto log = logFolder / "access.log";
    const auto link = linkFolder / "current.log";
    WriteLog(log, Lines(1, 20));
    std::filesystem::create_symlink(log, link);
    LogFileReader reader;
    reader.Open(link);
    while (!reader.AtEnd())
        reader.ReadLine();
    reader.CaptureTail(reader.Position());
    WriteLog(logFolder / "access.log.1", Lines(1, 22));
    std::filesystem::resize_file(log, 0);
    const std::unique_ptr<LogFileReader> copy = OpenTruncatedLogCopy(reader, link);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Identity(), IdentityOf(logFolder / "access.log.1"));
}

} // namespace
} // namespace kavel
