#include "net/ReverseLookup.h"

#include "base/Text.h"

#include <arpa/inet.h>
#include <future>
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

// The resolver in use; copied out under its lock so that a slow query holds no lock.
std::mutex ResolverLock;
HostNameResolver Resolver;

HostNameResolver CurrentResolver() {
    std::lock_guard lock(ResolverLock);
    return Resolver;
}

// The run-long cache. Each address (folded to lower case) maps to the answer of its one
// query; the first asker fulfils the promise, later askers wait on the shared future, so the
// lock is held only for the map look-up and never during a query.
std::mutex CacheLock;
std::unordered_map<std::string, std::shared_future<Answer>>& Cache() {
    static std::unordered_map<std::string, std::shared_future<Answer>> cache;
    return cache;
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
    if (!StartSockets() || !IsNumericAddress(address)) {
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
    std::string key = AsciiLowerCase(address);
    std::shared_future<Answer> pending;
    // Made only by the caller that asks: a promise abandoned by every cache hit would cost an
    // allocation and a broken-promise exception per line.
    std::optional<std::promise<Answer>> promise;
    {
        std::lock_guard lock(CacheLock);
        auto& cache = Cache();
        const auto found = cache.find(key);
        if (found != cache.end()) {
            pending = found->second;
        } else {
            promise.emplace();
            pending = promise->get_future().share();
            cache.emplace(std::move(key), pending);
        }
    }
    if (promise) {
        // Whatever goes wrong in the query counts as a failed look-up; waiting callers must
        // always get an answer.
        Answer answer;
        try {
            std::string name;
            if (LookupHostName(address, name)) {
                answer = std::move(name);
            }
        } catch (...) {
            answer.reset();
        }
        promise->set_value(std::move(answer));
    }
    const Answer& answer = pending.get();
    hostName = answer ? *answer : std::string();
    return answer.has_value();
}

void SetHostNameResolver(HostNameResolver resolver) {
    std::lock_guard lock(ResolverLock);
    Resolver = std::move(resolver);
}

void ClearResolveCache() {
    std::lock_guard lock(CacheLock);
    Cache().clear();
}

bool StartSockets() {
    return true;
}

void StopSockets() {}

std::string UrlForOpen(std::string_view text) {
    constexpr std::string_view Scheme = "http://";
    if (text.substr(0, Scheme.size()) == Scheme) {
        return std::string(text);
    }
    std::string url(Scheme);
    url += text;
    return url;
}

} // namespace kavel
