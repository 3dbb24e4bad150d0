#include "base/LineBlocks.h"

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "platform/Clock.h"
#include "support/ParsingSupport.h"
#include "support/TestWorkspace.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

using kavel::test::Space;

namespace kavel {
namespace {

const DateTime Now = *EncodeDateTime(2024, 1, 1, 0, 0, 0);
const std::filesystem::path CorpusDir = KAVEL_CORPUS_DIR;

// Small blocks and a small cache for the scope, so that a few hundred lines seal many blocks
// and reading them back decompresses most.
class ScopedLineBlocks {
public:
    ScopedLineBlocks(std::size_t fill, std::size_t cacheBlocks) {
        SetLineBlockFill(fill);
        SetLineCacheBlocks(cacheBlocks);
    }
    ~ScopedLineBlocks() {
        test::ScopedClassificationLists::Reset();
        SealOpenLineBlock();
        SetLineBlockFill(LineBlockBytes);
        SetLineCacheBlocks(DefaultLineCacheBlocks);
    }
    ScopedLineBlocks(const ScopedLineBlocks&) = delete;
    ScopedLineBlocks& operator=(const ScopedLineBlocks&) = delete;
};

// Every text of the entry that comes from its line, joined; read under a pin.
std::string TextsOf(const LogEntry& entry) {
    const LinePin pin(entry);
    std::string texts(entry.Line.View());
    const AccessRecord* access = entry.Access();
    if (access == nullptr)
        return texts;
    texts += '\x1f';
    texts += access->DateText();
    for (const std::string_view text :
         {access->Address(), access->HostName(), access->User(), access->UserAgent(), access->Method(),
          access->Page(), access->Protocol(), access->Referer()}) {
        texts += '\x1f';
        texts += text;
    }
    if (access->Kind() == LogFormat::W3c) {
        const auto& w3c = static_cast<const W3cRecord&>(*access);
        for (const std::string_view text :
             {w3c.ServerAddress(), w3c.ServerHostName(), w3c.SiteName(), w3c.ComputerName(), w3c.Cookie()}) {
            texts += '\x1f';
            texts += text;
        }
    }
    return texts;
}

class LineBlocksTest : public testing::Test {
protected:
    LineBlocksTest()
        : Clock_(Now)
        , ScopedClock_(Clock_) {
        Server_.SetTimeDeleteAfter(100000);
    }

    // Makes and appends an entry of each line; the texts each had when it was made.
    std::vector<std::string> AppendLines(const std::vector<std::string>& lines, Server& server) {
        std::vector<std::string> texts;
        for (const std::string& line : lines) {
            std::unique_ptr<LogEntry> entry = MakeEntry(line, server, EntrySettings::Of(Space()));
            if (!entry)
                continue;
            texts.push_back(TextsOf(*entry));
            Space().Entries().Append(std::move(entry));
        }
        return texts;
    }

    static std::vector<std::string> QueuedTexts() {
        std::vector<std::string> texts;
        LinePin pin;
        for (const LogEntry* entry = Space().Entries().First(); entry != nullptr;
             entry = Space().Entries().Next(entry))
            texts.push_back(TextsOf(*entry));
        return texts;
    }

    static std::vector<std::string> GeneratedLines(int count) {
        std::mt19937 random(7);
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i) {
            const auto n = static_cast<unsigned>(random());
            lines.push_back("10." + std::to_string(n % 7) + "." + std::to_string(n % 251) + ".9 - user" +
                            std::to_string(n % 3) + " [01/Jan/2024:00:" + std::to_string(10 + i % 50) +
                            ":00 +0000] \"GET /p/" + std::to_string(n) + "?q=\xe4\xf6" +
                            std::string(n % 90, 'x') + " HTTP/1.1\" " + std::to_string(200 + n % 300) + " " +
                            std::to_string(n % 9999) + " \"http://ref.example/" + std::to_string(n % 13) +
                            "\" \"Agent/" + std::to_string(n % 5) + " (\x01\x7f)\"");
        }
        return lines;
    }

    platform::ManualClock Clock_;
    platform::ScopedClock ScopedClock_;
    test::ScopedOptions Options_;
    test::ScopedClassificationLists Lists_;
    Server Server_;
};

// The corpus and a generated log read back byte for byte from blocks of a few lines each,
// with a cache of one block, so that nearly every block is decompressed on the way.
TEST_F(LineBlocksTest, EveryTextOfEveryEntryIsTheSameAfterSealing) {
    const ScopedLineBlocks blocks(2048, 1);
    const LineBlockCounts before = CountLineBlocks();
    std::vector<std::string> expected =
        AppendLines(test::ReadLogLines((CorpusDir / "logfile_shop_access_log.0").string()), Server_);
    const std::vector<std::string> generated = AppendLines(GeneratedLines(3000), Server_);
    expected.insert(expected.end(), generated.begin(), generated.end());
    Server w3c;
    w3c.SetLogType(LogFormat::W3c);
    w3c.SetTimeDeleteAfter(100000);
    const std::vector<std::string> iis =
        AppendLines(test::ReadLogLines((CorpusDir / "logfile_w3c_big.0").string()), w3c);
    expected.insert(expected.end(), iis.begin(), iis.end());
    ASSERT_GT(expected.size(), 4000u);
    SealOpenLineBlock();

    const LineBlockCounts sealed = CountLineBlocks();
    EXPECT_GT(sealed.Sealed, before.Sealed + 100);
    EXPECT_LT(sealed.CompressedBytes, sealed.SealedTextBytes);
    EXPECT_LE(sealed.Resident, 1u);
    EXPECT_EQ(QueuedTexts(), expected);
    EXPECT_GT(CountLineBlocks().Decompressions, sealed.Decompressions + 100);
    // Read again, newest first: the same.
    std::vector<std::string> backwards;
    for (const LogEntry* entry = Space().Entries().Last(); entry != nullptr;
         entry = Space().Entries().Prev(entry))
        backwards.push_back(TextsOf(*entry));
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(backwards, expected);
}

// A pinned block stays readable while the cache of one block decompresses and evicts others
// around it; once nothing holds it, it is evicted like any other.
TEST_F(LineBlocksTest, APinnedBlockOutlivesEvictionsAroundIt) {
    const ScopedLineBlocks blocks(1024, 1);
    const std::vector<std::string> expected = AppendLines(GeneratedLines(400), Server_);
    SealOpenLineBlock();
    const LogEntry* first = Space().Entries().First();
    const LinePin pin(*first);
    const std::string_view page = first->Access()->Page();
    const std::string copy(page);
    const std::uint64_t before = CountLineBlocks().Decompressions;
    EXPECT_EQ(QueuedTexts(), expected);
    EXPECT_GT(CountLineBlocks().Decompressions, before + 10);
    // Read through the view taken before the walk: an eviction of its block would be a
    // use after poison under the address sanitizer.
    EXPECT_EQ(page, copy);
    EXPECT_TRUE(InLineBlock(first->Line.Key()));
    EXPECT_FALSE(InLineBlock(page.data()));
}

#if defined(__SANITIZE_ADDRESS__)
// A view kept past its pin is caught: the bytes of an evicted block are poisoned while their
// buffer waits for another block, and a line's key is no memory at all.
TEST_F(LineBlocksTest, TheBytesOfAnEvictedBlockArePoisoned) {
    const ScopedLineBlocks blocks(1024, 1);
    AppendLines(GeneratedLines(100), Server_);
    SealOpenLineBlock();
    const LogEntry* first = Space().Entries().First();
    const char* line = nullptr;
    {
        const LinePin pin(*first);
        line = first->Line.data();
        EXPECT_FALSE(__asan_address_is_poisoned(line));
        EXPECT_NE(line, first->Line.Key());
    }
    const LinePin other(*Space().Entries().Last());
    EXPECT_TRUE(__asan_address_is_poisoned(line));
    // Unpinned, the line's bytes are no longer found: the key is given, which faults.
    EXPECT_EQ(first->Line.data(), first->Line.Key());
}
#endif

// Lines removed in any order give their blocks back once each block's last line is gone, the
// reader's open block included once it is sealed.
TEST_F(LineBlocksTest, BlocksGoBackWithTheirLastLineInAnyOrder) {
    const ScopedLineBlocks blocks(1024, 2);
    const LineBlockCounts before = CountLineBlocks();
    AppendLines(GeneratedLines(600), Server_);
    std::vector<LogEntry*> entries;
    for (LogEntry* entry = Space().Entries().First(); entry != nullptr; entry = Space().Entries().Next(entry))
        entries.push_back(entry);
    std::shuffle(entries.begin(), entries.end(), std::mt19937(3));
    const LinePin held(*entries.front());
    const std::size_t half = entries.size() / 2;
    for (std::size_t i = 0; i < half; ++i)
        Space().Entries().Remove(entries[i]);
    const std::vector<std::string> rest = QueuedTexts();
    EXPECT_EQ(rest.size(), entries.size() - half);
    for (std::size_t i = half; i < entries.size(); ++i)
        Space().Entries().Remove(entries[i]);
    SealOpenLineBlock();
    const LineBlockCounts after = CountLineBlocks();
    // The block held by the pin stays until the pin goes.
    EXPECT_LE(after.Sealed, before.Sealed + 1);
    EXPECT_EQ(after.Open, before.Open);
}

// A line longer than a block stays with its entry; an empty line needs no block.
TEST_F(LineBlocksTest, LinesThatFitNoBlockStayWithTheirEntry) {
    const std::string page(LineBlockBytes + 10, 'a');
    const std::string line = "10.0.0.1 - - [01/Jan/2024:00:00:00 +0000] \"GET /" + page + " HTTP/1.1\" 200 1";
    std::unique_ptr<LogEntry> entry = MakeEntry(line, Server_, EntrySettings::Of(Space()));
    ASSERT_TRUE(entry);
    EXPECT_FALSE(InLineBlock(entry->Line.Key()));
    EXPECT_EQ(entry->Line.View(), line);
    EXPECT_EQ(entry->Access()->Page(), "/" + page);
    EXPECT_EQ(CutBlockLine(0).Key, nullptr);
    EXPECT_EQ(CutBlockLine(LineBlockBytes + 1).Key, nullptr);
}

// A reader's block is sealed once it found no new line for the quiet time; not before.
TEST_F(LineBlocksTest, AQuietBlockIsSealed) {
    const ScopedLineBlocks blocks(LineBlockBytes, 4);
    AppendLines(GeneratedLines(3), Server_);
    const LineBlockCounts open = CountLineBlocks();
    SealQuietLineBlock(std::chrono::hours(1));
    EXPECT_EQ(CountLineBlocks().Sealed, open.Sealed);
    SealQuietLineBlock(std::chrono::seconds(0));
    EXPECT_EQ(CountLineBlocks().Sealed, open.Sealed + 1);
    EXPECT_EQ(CountLineBlocks().Open, open.Open - 1);
    EXPECT_EQ(QueuedTexts().size(), 3u);
}

// Readers fill and seal blocks while the main thread reads every queued text under pins and
// removes the oldest entries, with a cache of one block.
TEST_F(LineBlocksTest, ReadersSealWhileTheMainThreadReadsAndRemoves) {
    const ScopedLineBlocks blocks(512, 1);
    const std::vector<std::string> lines = GeneratedLines(1500);
    std::unordered_set<std::string> expected;
    for (const std::string& line : lines)
        expected.insert(TextsOf(*MakeEntry(line, Server_, EntrySettings::Of(Space()))));
    std::atomic<int> running{2};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&, r] {
            for (std::size_t i = static_cast<std::size_t>(r); i < lines.size(); i += 2)
                Space().Entries().Append(MakeEntry(lines[i], Server_, EntrySettings::Of(Space())));
            running.fetch_sub(1);
        });
    std::size_t checked = 0;
    while (running.load() > 0 || Space().Entries().Count() > 0) {
        {
            const auto lock = Space().Entries().ReadLock();
            LinePin pin;
            for (const LogEntry* entry = Space().Entries().First(); entry != nullptr;
                 entry = Space().Entries().Next(entry)) {
                pin.Reach(*entry);
                ASSERT_TRUE(expected.contains(TextsOf(*entry)));
                ++checked;
            }
        }
        for (int i = 0; i < 20 && Space().Entries().First() != nullptr; ++i)
            Space().Entries().Remove(Space().Entries().First());
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_GT(checked, 0u);
}

} // namespace
} // namespace kavel
