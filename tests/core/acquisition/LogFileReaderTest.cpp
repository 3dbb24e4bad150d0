#include "acquisition/LogFileReader.h"

#include "support/ReaderTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kavel {
namespace {

using test::AppendLog;
using test::LogFolder;
using test::WriteLog;

struct Line {
    std::string Text;
    std::int64_t EndPosition;
    bool operator==(const Line&) const = default;
};

std::vector<Line> ReadAll(LogFileReader& reader) {
    std::vector<Line> lines;
    while (!reader.AtEnd()) {
        std::string text = reader.ReadLine();
        lines.push_back(Line{std::move(text), reader.Position()});
    }
    return lines;
}

// Every block size gives the same lines at the same positions: lines end exactly at, just before
// and just after the block ends.
class LogFileReaderBlockTest : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(LogFileReaderBlockTest, LinesAndPositionsDoNotDependOnTheBlockSize) {
    LogFolder folder;
    const std::string content = "a\r\nbb\n\nccc\r\n\r\n1234567\n12345678\r\nlast without end";
    WriteLog(folder / "log", content);
    LogFileReader reader(GetParam());
    reader.Open(folder / "log");
    const std::vector<Line> expected = {
        {"a", 3},         {"bb", 6},
        {"", 7},          {"ccc", 12},
        {"", 14},         {"1234567", 22},
        {"12345678", 32}, {"last without end", static_cast<std::int64_t>(content.size())},
    };
    EXPECT_EQ(ReadAll(reader), expected);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.Size(), static_cast<std::int64_t>(content.size()));
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, LogFileReaderBlockTest,
                         ::testing::Values(1, 2, 3, 7, 8, 128, 64 * 1024));

// A lone CR ends a line as LF does; CR LF stays one line end, also across block borders.
TEST(LogFileReaderTest, ALoneCarriageReturnEndsALine) {
    LogFolder folder;
    WriteLog(folder / "log", "a\rb\r\nc\n\rd\r");
    for (const std::int64_t block : {1, 2, 3, 4, 64}) {
        SCOPED_TRACE(block);
        LogFileReader reader(block);
        reader.Open(folder / "log");
        std::vector<std::string> lines;
        std::string line;
        while (reader.ReadCompleteLine(line)) {
            lines.push_back(line);
        }
        EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "", "d"}));
    }
}

// An unterminated last line is not handed out until its line end arrives.
TEST(LogFileReaderTest, AnUnterminatedLastLineWaitsForItsLineEnd) {
    LogFolder folder;
    const std::filesystem::path file = folder / "log";
    WriteLog(file, "one\ntw");
    LogFileReader reader(2);
    reader.Open(file);
    std::string line;
    ASSERT_TRUE(reader.ReadCompleteLine(line));
    EXPECT_EQ(line, "one");
    EXPECT_FALSE(reader.ReadCompleteLine(line));
    EXPECT_EQ(reader.Position(), 4);
    AppendLog(file, "o\r");
    ASSERT_TRUE(reader.ReadCompleteLine(line));
    EXPECT_EQ(line, "two");
    AppendLog(file, "\nthree\n");
    ASSERT_TRUE(reader.ReadCompleteLine(line));
    EXPECT_EQ(line, "three");
    EXPECT_FALSE(reader.ReadCompleteLine(line));
}

TEST(LogFileReaderTest, APartialLastLineIsReturnedAndTheRestFollowsAsTheNextLine) {
    LogFolder folder;
    WriteLog(folder / "log", "first\nsec");
    LogFileReader reader(4);
    reader.Open(folder / "log");
    EXPECT_EQ(reader.ReadLine(), "first");
    EXPECT_EQ(reader.ReadLine(), "sec");
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.Position(), 9);
    AppendLog(folder / "log", "ond\nthird\n");
    EXPECT_FALSE(reader.AtEnd());
    EXPECT_EQ(reader.ReadLine(), "ond");
    EXPECT_EQ(reader.ReadLine(), "third");
    EXPECT_TRUE(reader.AtEnd());
}

TEST(LogFileReaderTest, ALineEndSplitBetweenCrAndLfGivesNoEmptyLine) {
    LogFolder folder;
    WriteLog(folder / "log", "one\r");
    LogFileReader reader;
    reader.Open(folder / "log");
    EXPECT_EQ(reader.ReadLine(), "one");
    AppendLog(folder / "log", "\ntwo\r\n");
    EXPECT_EQ(reader.ReadLine(), "two");
    EXPECT_TRUE(reader.AtEnd());
}

TEST(LogFileReaderTest, RereadingFromAPositionGivesTheCompletedLine) {
    LogFolder folder;
    WriteLog(folder / "log", "#Fields: x\nhalf");
    LogFileReader reader(8);
    reader.Open(folder / "log");
    reader.ReadLine();
    const std::int64_t lastQueued = reader.Position();
    EXPECT_EQ(reader.ReadLine(), "half");
    AppendLog(folder / "log", " and whole\n");
    reader.Refill(lastQueued);
    EXPECT_EQ(reader.Position(), lastQueued);
    EXPECT_EQ(reader.ReadLine(), "half and whole");
}

TEST(LogFileReaderTest, SeekInsideAndOutsideTheBufferLandsOnThePosition) {
    LogFolder folder;
    std::string content;
    for (int i = 0; i < 100; ++i) {
        content += "line" + std::to_string(i) + "\n";
    }
    WriteLog(folder / "log", content);
    LogFileReader reader(16);
    reader.Open(folder / "log");
    struct Case {
        std::int64_t Target;
        std::string Rest;
    };
    const Case cases[] = {{2, "ne0"}, {6, "line1"}, {300, content.substr(300, content.find('\n', 300) - 300)},
                          {10, "1"},  {0, "line0"}, {static_cast<std::int64_t>(content.size()), ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Target);
        reader.Seek(c.Target);
        EXPECT_EQ(reader.Position(), c.Target);
        EXPECT_EQ(reader.ReadLine(), c.Rest);
    }
}

TEST(LogFileReaderTest, RefillBeyondTheDataReadsOnFromThatPositionWhenTheDataArrives) {
    LogFolder folder;
    WriteLog(folder / "log", "abc\n");
    LogFileReader reader(4);
    reader.Open(folder / "log");
    reader.Refill(10);
    EXPECT_EQ(reader.Position(), 10);
    AppendLog(folder / "log", "0123456789xyz\n");
    EXPECT_EQ(reader.ReadLine(), "6789xyz");
}

TEST(LogFileReaderTest, ALogOfMoreThanTwoGibibytesIsRead) {
    LogFolder folder;
    const std::filesystem::path file = folder / "big";
    const std::int64_t far = (std::int64_t{1} << 32) + 12345;
    {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(far)), 0);
        const std::string tail = "x\nafter four gibibytes\nlast\n";
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(far)),
                  static_cast<ssize_t>(tail.size()));
        ::close(fd);
    }
    LogFileReader reader;
    reader.Open(file);
    EXPECT_EQ(reader.Size(), far + 28);
    reader.Seek(far + 1);
    EXPECT_EQ(reader.ReadLine(), "");
    EXPECT_EQ(reader.Position(), far + 2);
    EXPECT_EQ(reader.ReadLine(), "after four gibibytes");
    EXPECT_FALSE(reader.AtEnd());
    EXPECT_EQ(reader.ReadLine(), "last");
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.Position(), far + 28);
}

TEST(LogFileReaderTest, AnOverlongLineIsDroppedAndTheNextLineIsRead) {
    LogFolder folder;
    const std::string longLine(100, 'x');
    WriteLog(folder / "log", "short\n" + longLine + "\r\n" + std::string(16, 'y') + "\nafter\n");
    LogFileReader reader(8, 16);
    reader.Open(folder / "log");
    EXPECT_EQ(reader.ReadLine(), "short");
    EXPECT_EQ(reader.ReadLine(), "");
    EXPECT_EQ(reader.Position(), 6 + 102);
    EXPECT_EQ(reader.ReadLine(), std::string(16, 'y'));
    EXPECT_EQ(reader.ReadLine(), "after");
}

TEST(LogFileReaderTest, AnOverlongLineStillBeingWrittenIsSkippedUpToItsEnd) {
    LogFolder folder;
    WriteLog(folder / "log", std::string(40, 'x'));
    LogFileReader reader(8, 16);
    reader.Open(folder / "log");
    EXPECT_EQ(reader.ReadLine(), "");
    AppendLog(folder / "log", std::string(30, 'x') + "\nnext\n");
    EXPECT_EQ(reader.ReadLine(), "");
    EXPECT_EQ(reader.ReadLine(), "next");
}

// What was read is recognised by the bytes before the read position: a file cut back, or cut and
// written anew past that point with the same first bytes (a W3C header), is not the one read.
// Lines handed out as views into the buffer are the lines the copying read gives, at the same
// positions: line ends at, before and across block borders, CR LF split by a border, overlong
// lines and a last line still waiting for its end.
TEST(LogFileReaderTest, ViewsGiveTheSameLinesAsCopies) {
    const std::string contents[] = {
        "a\r\nbb\n\nccc\r\n\r\n1234567\n12345678\r\nlast without end",
        "a\rb\r\nc\n\rd\r",
        "short\nthis line is too long\nok\r\nalso far too long\r\nend\n",
        "x\r",
    };
    for (const std::string& content : contents) {
        for (const std::int64_t block : {1, 2, 3, 5, 8, 64}) {
            SCOPED_TRACE(testing::Message() << block << " " << content);
            LogFolder folder;
            WriteLog(folder / "log", content);
            LogFileReader copying(block, 10);
            LogFileReader viewing(block, 10);
            copying.Open(folder / "log");
            viewing.Open(folder / "log");
            for (;;) {
                std::string copy;
                std::string_view view;
                const bool copied = copying.ReadCompleteLine(copy);
                ASSERT_EQ(viewing.ReadCompleteLine(view), copied);
                EXPECT_EQ(viewing.Position(), copying.Position());
                if (!copied)
                    break;
                EXPECT_EQ(view, copy);
            }
        }
    }
}

TEST(LogFileReaderTest, ATruncatedOrRewrittenFileIsNoticed) {
    const std::string header = "#Software: Test\r\n#Fields: date time c-ip\r\n";
    struct Case {
        const char* Name;
        std::string Rewrite;
        bool Unchanged;
    };
    const Case cases[] = {
        {"appended", "", true},
        {"cut to nothing", header.substr(0, 0), false},
        {"same header, shorter", header + "2024-01-02 x\r\n", false},
        {"same header, longer", header + "2024-01-02 a line longer than everything read before\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LogFolder folder;
        const std::filesystem::path file = folder / "log";
        WriteLog(file, header + "2024-01-01 first line\r\n");
        LogFileReader reader;
        reader.Open(file);
        ReadAll(reader);
        reader.CaptureTail(reader.Position());
        if (c.Unchanged) {
            AppendLog(file, "2024-01-01 more\r\n");
        } else {
            // copytruncate: cut in place under the open reader, then written anew.
            ASSERT_EQ(::truncate(file.c_str(), 0), 0);
            AppendLog(file, c.Rewrite);
        }
        EXPECT_EQ(reader.TailUnchanged(), c.Unchanged);
    }
}

// copytruncate can cut the log while a pass reads it, between the last line read and the moment
// the tail is kept: the tail is what was read, so that the cut is still noticed and the copy
// still recognised, whatever the block size and even after a half line was read ahead and given
// back.
class LogFileReaderCutTest : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(LogFileReaderCutTest, TheKeptTailIsWhatWasReadEvenWhenTheFileWasCutBackMeanwhile) {
    std::string read;
    for (int i = 0; i < 600; ++i)
        read += "10.0.0.1 GET /line" + std::to_string(i) + "\n";
    struct Case {
        const char* Name;
        std::string After;
    };
    std::string longer;
    for (int i = 0; i < 1500; ++i)
        longer += "10.0.0.2 GET /other" + std::to_string(i) + "\n";
    const Case cases[] = {{"cut to less than was read", "10.0.0.2 GET /x\n"},
                          {"cut and written past it", longer}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LogFolder folder;
        const auto log = folder / "log";
        WriteLog(log, read + "10.0.0.1 GET /half");
        LogFileReader reader(GetParam());
        reader.Open(log);
        std::string_view line;
        while (reader.ReadCompleteLine(line)) {
        }
        ASSERT_EQ(reader.Position(), static_cast<std::int64_t>(read.size()));
        WriteLog(folder / "log.1", read + "10.0.0.1 GET /half line\n");
        std::filesystem::resize_file(log, 0);
        AppendLog(log, c.After);

        reader.CaptureTail(reader.Position());
        EXPECT_FALSE(reader.TailUnchanged());
        LogFileReader copy;
        copy.Open(folder / "log.1");
        EXPECT_TRUE(copy.HoldsTailOf(reader));
    }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, LogFileReaderCutTest, ::testing::Values(7, 64, 4096, 64 * 1024));

TEST(LogFileReaderTest, AGrowingShortFileIsNotTakenForARewrittenOne) {
    LogFolder folder;
    WriteLog(folder / "log", "");
    LogFileReader reader;
    reader.Open(folder / "log");
    for (int i = 0; i < 10; ++i) {
        AppendLog(folder / "log", "line " + std::to_string(i) + "\n");
        EXPECT_TRUE(reader.TailUnchanged()) << i;
        ReadAll(reader);
        reader.CaptureTail(reader.Position());
    }
}

TEST(LogFileReaderTest, WhatIsNoLogFileIsRefusedAtOpen) {
    LogFolder folder;
    const std::filesystem::path fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    LogFileReader reader;
    EXPECT_THROW(reader.Open(folder / "missing"), std::system_error);
    // Opening a FIFO must not block waiting for a writer.
    const std::filesystem::path odd[] = {folder.Path(), fifo, "/dev/null"};
    for (const std::filesystem::path& path : odd) {
        SCOPED_TRACE(path.string());
        EXPECT_THROW(reader.Open(path), NotRegularFileError);
        EXPECT_FALSE(reader.IsOpen());
    }
}

} // namespace
} // namespace kavel
