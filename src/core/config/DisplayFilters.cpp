#include "config/DisplayFilters.h"

#include "acquisition/PoolSystem.h"
#include "acquisition/Queue.h"
#include "acquisition/Servers.h"
#include "config/MainConfig.h"
#include "parsing/Filter.h"
#include "parsing/MainViewsExceptions.h"

#include <optional>
#include <utility>

namespace kavel {

namespace {

constexpr const char* DefaultHiddenWords = "Hier W\xC3\xB6rter eintragen";

// Module state of the user-interface thread. The words cache remembers which store it was
// filled from as well, so that a store replaced in a test is never mistaken for the old one;
// no time at all means "never filled".
struct TFilterState {
    std::string ShownAddress;
    std::vector<std::string> HiddenWords;
    std::optional<TDateTime> HiddenWordsTime;
    const TConfig* HiddenWordsStore = nullptr;
};

TFilterState& State() {
    static TFilterState state;
    return state;
}

void SplitHiddenWords(std::string_view text, std::vector<std::string>& words) {
    words.clear();
    ExtractStrings(",", "", text, words);
}

void RefreshHiddenWords() {
    TFilterState& state = State();
    const TConfig* styles = Styles();
    if (styles == nullptr) {
        if (state.HiddenWordsStore != nullptr || !state.HiddenWordsTime) {
            SplitHiddenWords(DefaultHiddenWords, state.HiddenWords);
            state.HiddenWordsStore = nullptr;
            state.HiddenWordsTime = TDateTime{};
        }
        return;
    }
    const TDateTime changeTime = styles->GetChangeTime("ListViewHideWordsWords");
    if (state.HiddenWordsStore == styles && state.HiddenWordsTime == changeTime) {
        return;
    }
    SplitHiddenWords(styles->GetText("ListViewHideWordsWords"), state.HiddenWords);
    state.HiddenWordsStore = styles;
    state.HiddenWordsTime = styles->GetChangeTime("ListViewHideWordsWords");
}

bool StyleSwitch(const TConfig* styles, std::string_view key) {
    return styles != nullptr && styles->GetBool(key);
}

} // namespace

bool MatchesHiddenWords(const TQueue& entry) {
    RefreshHiddenWords();
    const std::vector<std::string>& words = State().HiddenWords;
    if (words.empty()) {
        return false;
    }
    // Rebuilding the lists tests every entry; the buffer keeps its capacity between calls.
    thread_local std::string searched;
    searched.assign(entry.Line);
    if (const TFilter* access = entry.Access.get()) {
        searched += access->DateText();
        searched += access->HostName();
        searched += ' ';
        searched += StatusText(access->Status);
    }
    for (const std::string& word : words) {
        if (searched.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool HasLocalReferer(const TQueue& entry) {
    const std::string referer = entry.Access ? AsciiLowerCase(entry.Access->Referer()) : std::string("-");
    if (referer.size() < 5) {
        return true;
    }
    const std::string name = entry.Server != nullptr ? AsciiLowerCase(entry.Server->Name()) : std::string();
    return !name.empty() && referer.find(name) != std::string::npos;
}

bool IsHiddenByFilters(const TQueue& entry) {
    const TFilter* access = entry.Access.get();
    if (access == nullptr) {
        return false;
    }
    const TConfig* styles = Styles();
    const bool hideNonDocuments = StyleSwitch(styles, "ListViewHideNonDocuments");
    const bool hideSpiders = StyleSwitch(styles, "ListViewHideSpiders");
    const bool hideWords = StyleSwitch(styles, "ListViewHideWords");
    const bool hideLocalReferers = StyleSwitch(styles, "ListViewHideLocalReferers");

    if (hideNonDocuments && !access->IsDocument) {
        return true;
    }
    if (hideSpiders && access->IsSpider) {
        return true;
    }
    if (hideWords && MatchesHiddenWords(entry)) {
        return true;
    }
    if (hideLocalReferers && HasLocalReferer(entry)) {
        return true;
    }
    const std::string& shown = State().ShownAddress;
    return !shown.empty() && access->HostName() != shown;
}

void SetShownAddress(std::string address) {
    State().ShownAddress = std::move(address);
}

std::string GetShownAddress() {
    return State().ShownAddress;
}

const std::vector<std::string>& HiddenWords() {
    return State().HiddenWords;
}

} // namespace kavel
