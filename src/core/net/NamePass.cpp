#include "net/NamePass.h"

#include <algorithm>
#include <utility>

namespace kavel {

NamePass::NamePass(NameCache& cache, std::shared_ptr<AnswerSignal> signal)
    : Cache_(cache)
    , Signal_(std::move(signal)) {}

bool NamePass::Resolve(std::string_view address, std::string& hostName) {
    switch (Cache_.Look(address, hostName, Signal_)) {
    case CachedAnswer::Named:
        return true;
    case CachedAnswer::Unnamed:
        return false;
    case CachedAnswer::Open:
        Note(Open_, address);
        break;
    case CachedAnswer::Unasked:
        Note(Missing_, address);
        break;
    }
    hostName.clear();
    return false;
}

void NamePass::AskMissing() {
    std::string name;
    for (const std::string& address : Missing_)
        // An address answered meanwhile counts as open: the line is parsed again and finds it.
        if (Cache_.AskInBackground(address, name, Signal_) != CachedAnswer::Unnamed)
            Note(Open_, address);
    Missing_.clear();
}

void NamePass::ForgetOpen() {
    Open_.clear();
    Missing_.clear();
    Deferred_ = false;
}

void NamePass::Note(std::vector<std::string>& addresses, std::string_view address) {
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
        addresses.emplace_back(address);
}

bool NamePass::WaitForAnswers(const std::vector<std::string>& addresses,
                              std::chrono::steady_clock::time_point deadline) {
    return Signal_->WaitUntil([this, &addresses] { return Cache_.AllAnswered(addresses); }, deadline);
}

} // namespace kavel
