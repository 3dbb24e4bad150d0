#include "net/ReverseLookup.h"

#include "support/TestWorkspace.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using kavel::test::Space;

namespace kavel {
namespace {

using Names = std::map<std::string, std::string>;

// A resolver that answers from a table and counts the queries per address.
class TableResolver {
public:
    explicit TableResolver(Names names)
        : Names_(std::move(names)) {
        Space().Names().SetResolver([this](std::string_view address) { return Answer(address); });
        Space().Names().Clear();
    }
    ~TableResolver() {
        Space().Names().SetResolver(nullptr);
        Space().Names().Clear();
    }

    int Queries(const std::string& address) const {
        std::lock_guard lock(Lock_);
        const auto found = Counts_.find(address);
        return found == Counts_.end() ? 0 : found->second;
    }
    int TotalQueries() const {
        std::lock_guard lock(Lock_);
        int total = 0;
        for (const auto& [address, count] : Counts_) {
            total += count;
        }
        return total;
    }

private:
    std::optional<std::string> Answer(std::string_view address) {
        std::lock_guard lock(Lock_);
        ++Counts_[std::string(address)];
        const auto found = Names_.find(std::string(address));
        if (found == Names_.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    mutable std::mutex Lock_;
    std::map<std::string, std::string> Names_;
    std::map<std::string, int> Counts_;
};

TEST(ReverseLookup, SameAddressTwiceMakesOneQuery) {
    TableResolver resolver(Names{{"192.0.2.7", "crawler.example.net"}});
    for (int round = 0; round < 2; ++round) {
        std::string host = "unchanged";
        EXPECT_TRUE(Space().Names().Resolve("192.0.2.7", host));
        EXPECT_EQ(host, "crawler.example.net");
    }
    EXPECT_EQ(resolver.Queries("192.0.2.7"), 1);
}

TEST(ReverseLookup, FailureIsCachedAndEmptiesTheName) {
    TableResolver resolver(Names{});
    for (int round = 0; round < 2; ++round) {
        std::string host = "previous";
        EXPECT_FALSE(Space().Names().Resolve("198.51.100.1", host));
        EXPECT_EQ(host, "");
    }
    EXPECT_EQ(resolver.Queries("198.51.100.1"), 1);
}

TEST(ReverseLookup, AddressesCompareIgnoringCase) {
    TableResolver resolver(Names{{"2001:db8::AB", "six.example.org"}});
    std::string host;
    EXPECT_TRUE(Space().Names().Resolve("2001:db8::AB", host));
    EXPECT_TRUE(Space().Names().Resolve("2001:DB8::ab", host));
    EXPECT_EQ(host, "six.example.org");
    EXPECT_EQ(resolver.TotalQueries(), 1);
}

TEST(ReverseLookup, Ipv6AddressesAreAskedFor) {
    TableResolver resolver(
        Names{{"2001:db8::1", "v6.example.org"}, {"::ffff:192.0.2.1", "mapped.example.org"}});
    std::string host;
    EXPECT_TRUE(Space().Names().Resolve("2001:db8::1", host));
    EXPECT_EQ(host, "v6.example.org");
    EXPECT_TRUE(Space().Names().Resolve("::ffff:192.0.2.1", host));
    EXPECT_EQ(host, "mapped.example.org");
}

// Texts that are no numeric address never reach the resolver.
TEST(ReverseLookup, NonAddressTextsAreNotQueried) {
    TableResolver resolver(Names{});
    const std::vector<std::string> texts = {"www.example.com",
                                            "",
                                            "-",
                                            "1.2.3",
                                            "256.1.1.1",
                                            "1.2.3.4 ",
                                            " 1.2.3.4",
                                            "fe80::1%eth0",
                                            std::string("1.2.3.4\0x", 9),
                                            std::string(300, '1'),
                                            "::g"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        for (int round = 0; round < 2; ++round) {
            std::string host = "x";
            EXPECT_FALSE(Space().Names().Resolve(text, host));
            EXPECT_EQ(host, "");
        }
    }
    EXPECT_EQ(resolver.TotalQueries(), 0);
}

TEST(ReverseLookup, HostileNamesAreRefused) {
    const std::vector<std::string> hostile = {
        "",           "a;b.example",        "evil\r\n#x",  "tab\there",
        "with blank", "quote\"d",           "apo'strophe", std::string("nul\0byte", 8),
        "del\x7F",    std::string(256, 'a')};
    Names names;
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        names["192.0.2." + std::to_string(i + 1)] = hostile[i];
    }
    TableResolver resolver(names);
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string address = "192.0.2." + std::to_string(i + 1);
        std::string host = "kept";
        EXPECT_FALSE(LookupHostName(address, host));
        EXPECT_EQ(host, "kept");
        EXPECT_FALSE(Space().Names().Resolve(address, host));
        EXPECT_EQ(host, "");
    }
}

TEST(ReverseLookup, AcceptableNamesPass) {
    for (const std::string& name :
         std::vector<std::string>{"a", "host-1.example.com", "M\xFCller.example", std::string(255, 'a')}) {
        EXPECT_TRUE(IsAcceptableHostName(name)) << name;
    }
}

// Many readers asking for the same address at the same moment share one query; the resolver
// holds the first query open while the other threads ask.
TEST(ReverseLookup, ConcurrentCallersShareOneQuery) {
    constexpr int Threads = 8;
    std::mutex lock;
    std::condition_variable changed;
    bool release = false;
    bool releasedInTime = false;
    std::atomic<int> queries{0};
    std::atomic<int> slowQueries{0};
    std::atomic<int> started{0};
    Space().Names().SetResolver([&](std::string_view address) -> std::optional<std::string> {
        queries.fetch_add(1);
        if (address == "203.0.113.5") {
            slowQueries.fetch_add(1);
            std::unique_lock guard(lock);
            releasedInTime = changed.wait_for(guard, std::chrono::seconds(20), [&] { return release; });
            return "slow.example.net";
        }
        return "fast.example.net";
    });
    Space().Names().Clear();

    std::vector<std::string> results(Threads);
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i) {
        threads.emplace_back([&, i] {
            started.fetch_add(1);
            std::string host;
            Space().Names().Resolve("203.0.113.5", host);
            results[static_cast<std::size_t>(i)] = host;
        });
    }
    // Another address does not wait behind the slow one: had it waited, the slow query would
    // have run into its time-out before the release below.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((started.load() < Threads || slowQueries.load() == 0) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    std::string other;
    EXPECT_TRUE(Space().Names().Resolve("203.0.113.6", other));
    EXPECT_EQ(other, "fast.example.net");
    {
        std::lock_guard guard(lock);
        release = true;
    }
    changed.notify_all();
    for (auto& thread : threads) {
        thread.join();
    }
    for (const std::string& host : results) {
        EXPECT_EQ(host, "slow.example.net");
    }
    EXPECT_EQ(queries.load(), 2);
    EXPECT_EQ(slowQueries.load(), 1);
    EXPECT_TRUE(releasedInTime);
    Space().Names().SetResolver(nullptr);
    Space().Names().Clear();
}

// A reader asks without waiting: the address is open while its query runs in the background,
// the reader's signal wakes it once the answer is in the cache, and whoever asks later, waiting
// or not, shares that one query.
TEST(ReverseLookup, AnAddressAskedInTheBackgroundIsOpenUntilItsAnswerComes) {
    auto gate = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
    auto open = std::make_shared<bool>(true);
    auto queries = std::make_shared<std::atomic<int>>(0);
    Space().Names().SetResolver([gate, open, queries](std::string_view) -> std::optional<std::string> {
        queries->fetch_add(1);
        std::unique_lock lock(gate->first);
        gate->second.wait(lock, [&] { return !*open; });
        return "late.example.net";
    });
    Space().Names().Clear();
    const auto signal = std::make_shared<AnswerSignal>();
    const std::vector<std::string> address = {"203.0.113.9"};
    std::string host = "x";
    EXPECT_EQ(Space().Names().Look(address[0], host, signal), CachedAnswer::Unasked);
    EXPECT_EQ(Space().Names().AskInBackground(address[0], host, signal), CachedAnswer::Open);
    EXPECT_EQ(Space().Names().Look(address[0], host, signal), CachedAnswer::Open);
    EXPECT_FALSE(Space().Names().AllAnswered(address));
    EXPECT_FALSE(signal->WaitUntil([&] { return Space().Names().AllAnswered(address); },
                                   std::chrono::steady_clock::now() + std::chrono::milliseconds(30)));
    std::string waited;
    std::thread waiting([&] { Space().Names().Resolve(address[0], waited); });

    {
        std::lock_guard lock(gate->first);
        *open = false;
    }
    gate->second.notify_all();
    EXPECT_TRUE(signal->WaitUntil([&] { return Space().Names().AllAnswered(address); },
                                  std::chrono::steady_clock::now() + std::chrono::seconds(20)));
    EXPECT_EQ(Space().Names().Look(address[0], host, signal), CachedAnswer::Named);
    EXPECT_EQ(host, "late.example.net");
    waiting.join();
    EXPECT_EQ(waited, "late.example.net");
    EXPECT_EQ(queries->load(), 1);
    Space().Names().SetResolver(nullptr);
    Space().Names().Clear();
}

// The reader stops: its waits end at once, whatever their deadline.
// A busy server's visitors never end: the cache keeps the names used last and asks again for
// one it let go of.
TEST(NameCache, ForgetsTheLeastRecentlyUsedBeyondItsSize) {
    int queries = 0;
    NameCache cache(3, [&queries](std::string_view address) -> std::optional<std::string> {
        ++queries;
        return "host-" + std::string(address.substr(address.rfind('.') + 1));
    });
    std::string name;
    for (const char* address : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
        ASSERT_TRUE(cache.Resolve(address, name));
    EXPECT_EQ(cache.Count(), 3u);
    // 10.0.0.1 is used again, so 10.0.0.2 is the least recently used when 10.0.0.4 comes.
    ASSERT_TRUE(cache.Resolve("10.0.0.1", name));
    ASSERT_TRUE(cache.Resolve("10.0.0.4", name));
    EXPECT_EQ(queries, 4);
    EXPECT_EQ(cache.Count(), 3u);

    const auto signal = std::make_shared<AnswerSignal>();
    EXPECT_EQ(cache.Look("10.0.0.2", name, signal), CachedAnswer::Unasked);
    EXPECT_EQ(cache.Look("10.0.0.1", name, signal), CachedAnswer::Named);
    EXPECT_EQ(name, "host-1");
    EXPECT_EQ(cache.Look("10.0.0.3", name, signal), CachedAnswer::Named);
    EXPECT_TRUE(cache.AllAnswered({"10.0.0.2"})) << "a forgotten address counts as answered";

    ASSERT_TRUE(cache.Resolve("10.0.0.2", name));
    EXPECT_EQ(queries, 5) << "a forgotten address is asked again";
    EXPECT_EQ(cache.Look("10.0.0.4", name, signal), CachedAnswer::Unasked)
        << "the look at 10.0.0.3 made 10.0.0.4 the least recently used";

    cache.SetCapacity(1);
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_EQ(cache.Look("10.0.0.2", name, signal), CachedAnswer::Named) << "the newest stays";
    cache.SetCapacity(0);
    EXPECT_EQ(cache.Capacity(), 1u);
}

// Two caches (two workspaces) ask and remember on their own.
TEST(NameCache, TwoCachesKeepTheirOwnAnswers) {
    NameCache first(10, [](std::string_view) -> std::optional<std::string> { return "first.example"; });
    NameCache second(10, [](std::string_view) -> std::optional<std::string> { return std::nullopt; });
    std::string name;
    EXPECT_TRUE(first.Resolve("192.0.2.1", name));
    EXPECT_EQ(name, "first.example");
    EXPECT_FALSE(second.Resolve("192.0.2.1", name));
    EXPECT_EQ(name, "");
}

TEST(ReverseLookup, AnInterruptedSignalEndsEveryWait) {
    AnswerSignal signal;
    signal.Interrupt();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(signal.WaitUntil([] { return false; }, std::chrono::steady_clock::time_point::max()));
    EXPECT_FALSE(signal.WaitUntil([] { return false; }, begin + std::chrono::hours(1)));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
}

TEST(ReverseLookup, ThrowingResolverCountsAsFailure) {
    int calls = 0;
    Space().Names().SetResolver([&](std::string_view) -> std::optional<std::string> {
        ++calls;
        throw std::runtime_error("resolver down");
    });
    Space().Names().Clear();
    std::string host = "x";
    EXPECT_FALSE(Space().Names().Resolve("192.0.2.99", host));
    EXPECT_FALSE(Space().Names().Resolve("192.0.2.99", host));
    EXPECT_EQ(host, "");
    EXPECT_EQ(calls, 1);
    Space().Names().SetResolver(nullptr);
    Space().Names().Clear();
}

} // namespace
} // namespace kavel
