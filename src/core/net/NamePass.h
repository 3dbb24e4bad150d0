#pragma once

#include "net/ReverseLookup.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// The names a reader parses its lines with, without ever waiting for the network: what the
// name cache answers now. An address the cache has no answer for is noted; AskMissing then
// has the noted addresses looked up in the background (several at once, by a few threads),
// only for a line that is worth it, and the reader decides whether the line waits for them or
// is taken without the names. Used by one thread; the signal may be interrupted from any.
class NamePass {
public:
    explicit NamePass(NameCache& cache,
                      std::shared_ptr<AnswerSignal> signal = std::make_shared<AnswerSignal>());

    // For the parsers: true with the name when the cache has one; false otherwise, the address
    // noted as open (its query runs) or as missing (nobody asked yet).
    bool Resolve(std::string_view address, std::string& hostName);
    bool HasUnanswered() const { return !Open_.empty() || !Missing_.empty(); }
    // Has the missing addresses asked for in the background; they are open from now on.
    void AskMissing();
    // The addresses noted open since the last ForgetOpen.
    const std::vector<std::string>& Open() const { return Open_; }
    // Forgets the noted addresses and whether a parse was deferred.
    void ForgetOpen();
    // Whether a parse that met an open address defers the line, to be parsed again once the
    // names are there (the default), rather than take it without them.
    void SetTakeWithoutNames(bool take) { TakeWithoutNames_ = take; }
    bool ShouldDefer() const { return !TakeWithoutNames_ && !Open_.empty(); }
    // The parse tells that it deferred a line that would otherwise have been an access.
    void Defer() { Deferred_ = true; }
    bool Deferred() const { return Deferred_; }

    // Blocks until every address is answered, the deadline passes or the signal is
    // interrupted; true when all are answered.
    bool WaitForAnswers(const std::vector<std::string>& addresses,
                        std::chrono::steady_clock::time_point deadline);
    AnswerSignal& Signal() { return *Signal_; }
    NameCache& Cache() { return Cache_; }

private:
    static void Note(std::vector<std::string>& addresses, std::string_view address);

    NameCache& Cache_;
    std::shared_ptr<AnswerSignal> Signal_;
    std::vector<std::string> Open_;
    std::vector<std::string> Missing_;
    bool TakeWithoutNames_ = false;
    bool Deferred_ = false;
};

} // namespace kavel
