#include "net/ReverseLookup.h"

#include "base/Text.h"
#include "net/LookupThreads.h"

#include <algorithm>
#include <arpa/inet.h>
#include <list>
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

// Whatever goes wrong in the query counts as a failed look-up: waiters always get an answer.
Answer Query(std::string_view address, const HostNameResolver& resolver) {
    try {
        std::string name;
        if (LookupHostName(address, name, resolver))
            return name;
    } catch (...) {
    }
    return std::nullopt;
}

// Under the cache's lock: the waiter is signalled when the query ends (once per query).
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

bool LookupHostName(std::string_view address, std::string& hostName, const HostNameResolver& resolver) {
    if (!IsNumericAddress(address)) {
        return false;
    }
    Answer answer = resolver ? resolver(address) : SystemResolve(address);
    if (!answer || !IsAcceptableHostName(*answer)) {
        return false;
    }
    hostName = std::move(*answer);
    return true;
}

// What the cache's users and its background queries share: a query still running when the
// cache goes finds it intact.
struct NameCache::State {
    // The resolver in use; copied out under its lock so that a slow query holds no lock.
    mutable std::mutex ResolverLock;
    HostNameResolver Resolver;
    // Each remembered address (folded to lower case) with its one query, and the addresses from
    // the most to the least recently used. The lock is held for these and the queries' fields,
    // never during a query.
    struct Remembered {
        std::shared_ptr<Lookup> Query;
        std::list<std::string>::iterator Use;
    };
    mutable std::mutex CacheLock;
    std::unordered_map<std::string, Remembered> Cache;
    std::list<std::string> Uses;
    std::size_t Capacity = DefaultCapacity;
    LookupThreads Threads{MaxLookupThreads, MaxWaitingLookups};

    HostNameResolver CurrentResolver() const {
        std::lock_guard lock(ResolverLock);
        return Resolver;
    }

    // Under CacheLock: the address' query, marked as used now; none when it is not remembered.
    std::shared_ptr<Lookup> Find(const std::string& key) {
        const auto found = Cache.find(key);
        if (found == Cache.end())
            return nullptr;
        Uses.splice(Uses.begin(), Uses, found->second.Use);
        return found->second.Query;
    }

    // Under CacheLock: remembers the address' new query, forgetting the least recently used
    // beyond the capacity.
    void Remember(std::string key, std::shared_ptr<Lookup> query) {
        Uses.push_front(key);
        Cache.emplace(std::move(key), Remembered{std::move(query), Uses.begin()});
        Trim();
    }

    void Trim() {
        while (Cache.size() > Capacity) {
            Cache.erase(Uses.back());
            Uses.pop_back();
        }
    }

    void Forget(const std::string& key, const std::shared_ptr<Lookup>& query) {
        const auto found = Cache.find(key);
        if (found == Cache.end() || found->second.Query != query)
            return;
        Uses.erase(found->second.Use);
        Cache.erase(found);
    }

    void Complete(Lookup& lookup, Answer answer) {
        std::vector<std::shared_ptr<AnswerSignal>> waiters;
        {
            std::lock_guard lock(CacheLock);
            lookup.Done = true;
            lookup.Result = std::move(answer);
            waiters.swap(lookup.Waiters);
        }
        for (const std::shared_ptr<AnswerSignal>& waiter : waiters)
            waiter->Notify();
    }
};

NameCache::NameCache(std::size_t capacity, HostNameResolver resolver)
    : State_(std::make_shared<State>()) {
    State_->Capacity = std::max<std::size_t>(capacity, 1);
    State_->Resolver = std::move(resolver);
}

NameCache::~NameCache() = default;

bool NameCache::Resolve(std::string_view address, std::string& hostName) {
    // A text that is no numeric address never leads to a query, so its failure needs no
    // cache entry; hostile logs full of distinct junk addresses then cannot grow the cache.
    if (!IsNumericAddress(address)) {
        hostName.clear();
        return false;
    }
    State& state = *State_;
    std::string key = AsciiLowerCase(address);
    std::shared_ptr<Lookup> lookup;
    std::shared_ptr<AnswerSignal> signal;
    bool asks = false;
    {
        std::lock_guard lock(state.CacheLock);
        lookup = state.Find(key);
        if (!lookup) {
            lookup = std::make_shared<Lookup>();
            state.Remember(std::move(key), lookup);
            asks = true;
        } else if (!lookup->Done) {
            signal = std::make_shared<AnswerSignal>();
            AddWaiter(*lookup, signal);
        }
    }
    if (asks) {
        state.Complete(*lookup, Query(address, state.CurrentResolver()));
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

CachedAnswer NameCache::Look(std::string_view address, std::string& hostName,
                             const std::shared_ptr<AnswerSignal>& signal) {
    if (!IsNumericAddress(address)) {
        hostName.clear();
        return CachedAnswer::Unnamed;
    }
    State& state = *State_;
    std::lock_guard lock(state.CacheLock);
    const std::shared_ptr<Lookup> known = state.Find(AsciiLowerCase(address));
    if (!known)
        return CachedAnswer::Unasked;
    if (!known->Done) {
        AddWaiter(*known, signal);
        return CachedAnswer::Open;
    }
    hostName = known->Result ? *known->Result : std::string();
    return known->Result ? CachedAnswer::Named : CachedAnswer::Unnamed;
}

CachedAnswer NameCache::AskInBackground(std::string_view address, std::string& hostName,
                                        const std::shared_ptr<AnswerSignal>& signal) {
    if (!IsNumericAddress(address)) {
        hostName.clear();
        return CachedAnswer::Unnamed;
    }
    State& state = *State_;
    std::string key = AsciiLowerCase(address);
    std::shared_ptr<Lookup> lookup;
    {
        std::lock_guard lock(state.CacheLock);
        if (const std::shared_ptr<Lookup> known = state.Find(key)) {
            if (known->Done) {
                hostName = known->Result ? *known->Result : std::string();
                return known->Result ? CachedAnswer::Named : CachedAnswer::Unnamed;
            }
            AddWaiter(*known, signal);
            return CachedAnswer::Open;
        }
        lookup = std::make_shared<Lookup>();
        lookup->Waiters.push_back(signal);
        state.Remember(key, lookup);
    }
    const bool queued = state.Threads.TryPost([shared = State_, lookup, text = std::string(address)] {
        shared->Complete(*lookup, Query(text, shared->CurrentResolver()));
    });
    if (queued)
        return CachedAnswer::Open;
    // Too much is waiting already: the address is left for a later line to ask.
    {
        std::lock_guard lock(state.CacheLock);
        state.Forget(key, lookup);
    }
    state.Complete(*lookup, std::nullopt);
    hostName.clear();
    return CachedAnswer::Unnamed;
}

bool NameCache::AllAnswered(const std::vector<std::string>& addresses) const {
    const State& state = *State_;
    std::lock_guard lock(state.CacheLock);
    for (const std::string& address : addresses) {
        const auto found = state.Cache.find(AsciiLowerCase(address));
        if (found != state.Cache.end() && !found->second.Query->Done)
            return false;
    }
    return true;
}

std::size_t NameCache::Count() const {
    std::lock_guard lock(State_->CacheLock);
    return State_->Cache.size();
}

std::size_t NameCache::Capacity() const {
    std::lock_guard lock(State_->CacheLock);
    return State_->Capacity;
}

void NameCache::SetCapacity(std::size_t capacity) {
    std::lock_guard lock(State_->CacheLock);
    State_->Capacity = std::max<std::size_t>(capacity, 1);
    State_->Trim();
}

void NameCache::Clear() {
    std::lock_guard lock(State_->CacheLock);
    State_->Cache.clear();
    State_->Uses.clear();
}

void NameCache::SetResolver(HostNameResolver resolver) {
    std::lock_guard lock(State_->ResolverLock);
    State_->Resolver = std::move(resolver);
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

} // namespace kavel
