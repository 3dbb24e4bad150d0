#include "net/ReverseLookup.h"

#include "base/Text.h"
#include "net/LookupThreads.h"

#include <arpa/inet.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unordered_map>
#include <utility>

namespace kavel {

namespace {

using Answer = std::optional<std::string>;

std::optional<std::string> SystemResolve(std::string_view address) {
    const std::string text(address);
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        length = sizeof(sockaddr_in6);
    } else {
        return std::nullopt;
    }
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0) {
        return std::nullopt;
    }
    return std::string(host);
}

// One address' query: asked once, answered once; whoever waits for it is signalled.
struct Lookup {
    bool Done = false;
    Answer Result;
    std::vector<std::shared_ptr<AnswerSignal>> Waiters;
};

// What the look-ups share. Made once and never destroyed: a look-up thread still waiting for
// the network when the program ends must find it intact, since the end does not wait for it.
struct LookupState {
    // The resolver in use; copied out under its lock so that a slow query holds no lock.
    std::mutex ResolverLock;
    HostNameResolver Resolver;
    // The run-long cache: each address (folded to lower case) with its one query. The lock is
    // held for the map and the queries' fields, never during a query.
    std::mutex CacheLock;
    std::unordered_map<std::string, std::shared_ptr<Lookup>> Cache;
    LookupThreads Threads{MaxLookupThreads, MaxWaitingLookups};
};

LookupState& State() {
    static LookupState* const state = new LookupState;
    return *state;
}

HostNameResolver CurrentResolver() {
    LookupState& state = State();
    std::lock_guard lock(state.ResolverLock);
    return state.Resolver;
}

// Whatever goes wrong in the query counts as a failed look-up: waiters always get an answer.
Answer Query(std::string_view address) {
    try {
        std::string name;
        if (LookupHostName(address, name))
            return name;
    } catch (...) {
    }
    return std::nullopt;
}

void Complete(Lookup& lookup, Answer answer) {
    std::vector<std::shared_ptr<AnswerSignal>> waiters;
    {
        std::lock_guard lock(State().CacheLock);
        lookup.Done = true;
        lookup.Result = std::move(answer);
        waiters.swap(lookup.Waiters);
    }
    for (const std::shared_ptr<AnswerSignal>& waiter : waiters)
        waiter->Notify();
}

// Under CacheLock: the waiter is signalled when the query ends (once per query).
void AddWaiter(Lookup& lookup, const std::shared_ptr<AnswerSignal>& signal) {
    for (const std::shared_ptr<AnswerSignal>& waiter : lookup.Waiters)
        if (waiter == signal)
            return;
    lookup.Waiters.push_back(signal);
}

} // namespace

bool IsNumericAddress(std::string_view address) {
    if (address.empty() || address.size() > 64 || address.find('\0') != std::string_view::npos) {
        return false;
    }
    const std::string text(address);
    in6_addr buffer{};
    return inet_pton(AF_INET, text.c_str(), &buffer) == 1 || inet_pton(AF_INET6, text.c_str(), &buffer) == 1;
}

bool IsAcceptableHostName(std::string_view name) {
    if (name.empty() || name.size() > 255) {
        return false;
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ';' || c == '"' || c == '\'' || c == ' ') {
            return false;
        }
    }
    return true;
}

bool LookupHostName(std::string_view address, std::string& hostName) {
    if (!IsNumericAddress(address)) {
        return false;
    }
    Answer answer;
    if (const HostNameResolver resolver = CurrentResolver()) {
        answer = resolver(address);
    } else {
        answer = SystemResolve(address);
    }
    if (!answer || !IsAcceptableHostName(*answer)) {
        return false;
    }
    hostName = std::move(*answer);
    return true;
}

bool ResolveAddress(std::string_view address, std::string& hostName) {
    // A text that is no numeric address never leads to a query, so its failure needs no
    // cache entry; hostile logs full of distinct junk addresses then cannot grow the cache.
    if (!IsNumericAddress(address)) {
        hostName.clear();
        return false;
    }
    LookupState& state = State();
    std::string key = AsciiLowerCase(address);
    std::shared_ptr<Lookup> lookup;
    std::shared_ptr<AnswerSignal> signal;
    bool asks = false;
    {
        std::lock_guard lock(state.CacheLock);
        auto [found, inserted] = state.Cache.try_emplace(std::move(key));
        if (inserted) {
            found->second = std::make_shared<Lookup>();
            asks = true;
        } else if (!found->second->Done) {
            signal = std::make_shared<AnswerSignal>();
            AddWaiter(*found->second, signal);
        }
        lookup = found->second;
    }
    if (asks) {
        Complete(*lookup, Query(address));
    } else if (signal) {
        signal->WaitUntil(
            [&] {
                std::lock_guard lock(state.CacheLock);
                return lookup->Done;
            },
            std::chrono::steady_clock::time_point::max());
    }
    std::lock_guard lock(state.CacheLock);
    hostName = lookup->Result ? *lookup->Result : std::string();
    return lookup->Result.has_value();
}

CachedAnswer LookInCache(std::string_view address, std::string& hostName,
                         const std::shared_ptr<AnswerSignal>& signal) {
    if (!IsNumericAddress(address)) {
        hostName.clear();
        return CachedAnswer::Unnamed;
    }
    LookupState& state = State();
    std::lock_guard lock(state.CacheLock);
    const auto found = state.Cache.find(AsciiLowerCase(address));
    if (found == state.Cache.end())
        return CachedAnswer::Unasked;
    Lookup& known = *found->second;
    if (!known.Done) {
        AddWaiter(known, signal);
        return CachedAnswer::Open;
    }
    hostName = known.Result ? *known.Result : std::string();
    return known.Result ? CachedAnswer::Named : CachedAnswer::Unnamed;
}

CachedAnswer AskInBackground(std::string_view address, std::string& hostName,
                             const std::shared_ptr<AnswerSignal>& signal) {
    if (!IsNumericAddress(address)) {
        hostName.clear();
        return CachedAnswer::Unnamed;
    }
    LookupState& state = State();
    std::string key = AsciiLowerCase(address);
    std::shared_ptr<Lookup> lookup;
    {
        std::lock_guard lock(state.CacheLock);
        const auto found = state.Cache.find(key);
        if (found != state.Cache.end()) {
            Lookup& known = *found->second;
            if (known.Done) {
                hostName = known.Result ? *known.Result : std::string();
                return known.Result ? CachedAnswer::Named : CachedAnswer::Unnamed;
            }
            AddWaiter(known, signal);
            return CachedAnswer::Open;
        }
        lookup = std::make_shared<Lookup>();
        lookup->Waiters.push_back(signal);
        state.Cache.emplace(key, lookup);
    }
    const bool queued =
        state.Threads.TryPost([lookup, text = std::string(address)] { Complete(*lookup, Query(text)); });
    if (queued)
        return CachedAnswer::Open;
    // Too much is waiting already: the address is left for a later line to ask.
    {
        std::lock_guard lock(state.CacheLock);
        const auto found = state.Cache.find(key);
        if (found != state.Cache.end() && found->second == lookup)
            state.Cache.erase(found);
    }
    Complete(*lookup, std::nullopt);
    hostName.clear();
    return CachedAnswer::Unnamed;
}

bool AllAnswered(const std::vector<std::string>& addresses) {
    LookupState& state = State();
    std::lock_guard lock(state.CacheLock);
    for (const std::string& address : addresses) {
        const auto found = state.Cache.find(AsciiLowerCase(address));
        if (found != state.Cache.end() && !found->second->Done)
            return false;
    }
    return true;
}

void AnswerSignal::Notify() {
    {
        std::lock_guard lock(Lock_);
        ++Notified_;
        if (OnNotify_)
            OnNotify_();
    }
    Changed_.notify_all();
}

void AnswerSignal::SetOnNotify(std::function<void()> onNotify) {
    std::lock_guard lock(Lock_);
    OnNotify_ = std::move(onNotify);
}

void AnswerSignal::Interrupt() {
    {
        std::lock_guard lock(Lock_);
        Interrupted_ = true;
    }
    Changed_.notify_all();
}

bool AnswerSignal::Interrupted() const {
    std::lock_guard lock(Lock_);
    return Interrupted_;
}

bool AnswerSignal::WaitUntil(const std::function<bool()>& done,
                             std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(Lock_);
            if (Interrupted_)
                return done();
            seen = Notified_;
        }
        // A notification after the count was read makes the wait below return at once.
        if (done())
            return true;
        std::unique_lock lock(Lock_);
        const auto changed = [&] { return Notified_ != seen || Interrupted_; };
        if (deadline == std::chrono::steady_clock::time_point::max()) {
            Changed_.wait(lock, changed);
        } else if (!Changed_.wait_until(lock, deadline, changed)) {
            lock.unlock();
            return done();
        }
    }
}

void SetHostNameResolver(HostNameResolver resolver) {
    LookupState& state = State();
    std::lock_guard lock(state.ResolverLock);
    state.Resolver = std::move(resolver);
}

void ClearResolveCache() {
    LookupState& state = State();
    std::lock_guard lock(state.CacheLock);
    state.Cache.clear();
}

} // namespace kavel
