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

// Cached reverse look-up of a client address: true with the host name when the address has
// a name; every address is asked at most once per run. It waits for the answer; the readers
// ask through NamePass, which never does.
//
// Addresses are compared ignoring ASCII case. A failed look-up is cached as well; a text that
// is no numeric address fails at once, without a query and without taking cache space. Threads
// call this at the same time: a second caller asking for an address whose query is still
// running (here or in the background) waits for that query's answer instead of asking again;
// callers asking for different addresses never wait for each other. On failure hostName is set
// to empty text.
bool ResolveAddress(std::string_view address, std::string& hostName);

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
// The cached answer of the address, without asking: Named with the name in hostName, Unnamed
// (no name, or no numeric address), Open (signal is notified once it is answered) or Unasked.
CachedAnswer LookInCache(std::string_view address, std::string& hostName,
                         const std::shared_ptr<AnswerSignal>& signal);
// The cached answer of the address: Named with the name in hostName, Unnamed (no name, or no
// numeric address), or Open: its query is running in the background (started now when
// nobody asked before) and signal is notified once it is answered. While too many queries
// wait for a look-up thread the address is not asked: it counts as Unnamed now and is asked
// again by a later line.
CachedAnswer AskInBackground(std::string_view address, std::string& hostName,
                             const std::shared_ptr<AnswerSignal>& signal);
// Whether every address has its answer (an address the cache has forgotten counts as answered).
bool AllAnswered(const std::vector<std::string>& addresses);
// The background look-up threads at most, and the queries that may wait for one of them.
inline constexpr std::size_t MaxLookupThreads = 32;
inline constexpr std::size_t MaxWaitingLookups = 4096;

// One reverse query, without the cache. The text must be a numeric IPv4 or IPv6 address; any
// other text (a host name the web server already wrote, garbage) fails without a query. A
// name that could not be stored safely in a list row or a definition-file line (control
// characters, ";", quotes, blanks, too long) is refused and the look-up fails. On failure
// hostName is left unchanged.
bool LookupHostName(std::string_view address, std::string& hostName);

// The reverse query itself: the name registered for a numeric address, or nothing. The
// address handed in has already been checked to be a numeric IPv4 or IPv6 address.
using HostNameResolver = std::function<std::optional<std::string>(std::string_view address)>;
// Replaces the system resolver (getnameinfo) so that tests never touch the network; an empty
// function restores the system resolver.
void SetHostNameResolver(HostNameResolver resolver);
// Empties the look-up cache. The program never does this; tests need a fresh cache.
void ClearResolveCache();

// Whether the text is a numeric IPv4 or IPv6 address.
bool IsNumericAddress(std::string_view address);
// Whether a resolver's answer may become a host name: not empty, at most 255 bytes, and none
// of control characters, DEL, ";", '"', "'" or blank.
bool IsAcceptableHostName(std::string_view name);

} // namespace kavel
