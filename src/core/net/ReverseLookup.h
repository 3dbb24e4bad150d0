#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// Wakes whoever waits for look-up answers. Each waiter (a reader) has a signal of its own, so
// that an answer wakes only those that asked for that address.
class AnswerSignal {
public:
    // Any thread: an address the waiter asked for has its answer.
    void Notify();
    // Runs at every Notify, under the signal's lock, until replaced (an empty one removes it):
    // a waiter that waits on a condition of its own is woken there too.
    void SetOnNotify(std::function<void()> onNotify);
    // Any thread: every wait returns at once, now and later (the waiter is stopping).
    void Interrupt();
    bool Interrupted() const;
    // Waits until done() holds, the deadline passes or the signal is interrupted; done() is
    // looked at again after every notification. Whether done() held at the end.
    bool WaitUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);

private:
    mutable std::mutex Lock_;
    std::condition_variable Changed_;
    std::uint64_t Notified_ = 0;
    bool Interrupted_ = false;
    std::function<void()> OnNotify_;
};

// What the cache knows of an address, without waiting: Unasked when nobody asked for it yet.
enum class CachedAnswer : std::uint8_t { Named, Unnamed, Open, Unasked };

// The reverse query itself: the name registered for a numeric address, or nothing. The
// address handed in has already been checked to be a numeric IPv4 or IPv6 address.
using HostNameResolver = std::function<std::optional<std::string>(std::string_view address)>;

// The background look-up threads at most, and the queries that may wait for one of them.
inline constexpr std::size_t MaxLookupThreads = 32;
inline constexpr std::size_t MaxWaitingLookups = 4096;

// The reverse look-ups of client addresses with their answers: every address is asked at most
// once while the cache remembers it. It remembers the most recently used addresses up to its
// capacity and forgets the least recently used beyond (a forgotten address is asked again when
// it comes back), so that days of a busy server's visitors cannot grow it without bound.
//
// Addresses are compared ignoring ASCII case. A failed look-up is cached as well; a text that
// is no numeric address fails at once, without a query and without taking cache space. Threads
// call it at the same time: a second caller asking for an address whose query is still
// running (here or in the background) waits for that query's answer instead of asking again;
// callers asking for different addresses never wait for each other. A query still waiting for
// the network when the cache is destroyed finishes on its thread without holding anybody up.
class NameCache {
public:
    static constexpr std::size_t DefaultCapacity = 100000;
    // resolver: the queries' answers (tests never touch the network); empty asks the system
    // (getnameinfo).
    explicit NameCache(std::size_t capacity = DefaultCapacity, HostNameResolver resolver = {});
    ~NameCache();
    NameCache(const NameCache&) = delete;
    NameCache& operator=(const NameCache&) = delete;

    // True with the host name when the address has a name, waiting for the answer; on
    // failure hostName is set to empty text. The readers ask through NamePass, which never waits.
    bool Resolve(std::string_view address, std::string& hostName);
    // The cached answer of the address, without asking: Named with the name in hostName, Unnamed
    // (no name, or no numeric address), Open (signal is notified once it is answered) or Unasked.
    CachedAnswer Look(std::string_view address, std::string& hostName,
                      const std::shared_ptr<AnswerSignal>& signal);
    // The cached answer of the address: Named with the name in hostName, Unnamed (no name, or no
    // numeric address), or Open: its query is running in the background (started now when
    // nobody asked before) and signal is notified once it is answered. While too many queries
    // wait for a look-up thread the address is not asked: it counts as Unnamed now and is asked
    // again by a later line.
    CachedAnswer AskInBackground(std::string_view address, std::string& hostName,
                                 const std::shared_ptr<AnswerSignal>& signal);
    // Whether every address has its answer (an address the cache has forgotten counts as answered).
    bool AllAnswered(const std::vector<std::string>& addresses) const;

    // The addresses remembered now, and at most.
    std::size_t Count() const;
    std::size_t Capacity() const;
    // At least 1; the least recently used addresses beyond it are forgotten at once.
    void SetCapacity(std::size_t capacity);
    // Forgets every address (queries running go on and are not remembered).
    void Clear();
    // Replaces the resolver; an empty one asks the system.
    void SetResolver(HostNameResolver resolver);

private:
    struct State;
    std::shared_ptr<State> State_;
};

// One reverse query, without the cache. The text must be a numeric IPv4 or IPv6 address; any
// other text (a host name the web server already wrote, garbage) fails without a query. A
// name that could not be stored safely in a list row or a definition-file line (control
// characters, ";", quotes, blanks, too long) is refused and the look-up fails. On failure
// hostName is left unchanged. An empty resolver asks the system.
bool LookupHostName(std::string_view address, std::string& hostName, const HostNameResolver& resolver = {});

// Whether the text is a numeric IPv4 or IPv6 address.
bool IsNumericAddress(std::string_view address);
// Whether a resolver's answer may become a host name: not empty, at most 255 bytes, and none
// of control characters, DEL, ";", '"', "'" or blank.
bool IsAcceptableHostName(std::string_view name);

} // namespace kavel
