#include "acquisition/DisplayFilters.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/LineBlocks.h"
#include "base/Text.h"
#include "config/AppSettings.h"
#include "parsing/AccessRecord.h"
#include "parsing/SuspiciousRequests.h"

#include <optional>
#include <utility>

namespace kavel {

namespace {

constexpr const char* DefaultHiddenWords = "Hier W\xC3\xB6rter eintragen";

// Module state of the user-interface thread. The words cache remembers which store it was
// filled from as well, so that a store replaced in a test is never mistaken for the old one;
// no time at all means "never filled".
struct FilterState {
    std::string ShownAddress;
    std::vector<std::string> HiddenWords;
    std::optional<DateTime> HiddenWordsTime;
    const SettingsStore* HiddenWordsStore = nullptr;
};

FilterState& State() {
    static FilterState state;
    return state;
}

void SplitHiddenWords(std::string_view text, std::vector<std::string>& words) {
    words.clear();
    ExtractStrings(",", "", text, words);
}

void RefreshHiddenWords() {
    FilterState& state = State();
    const SettingsStore* styles = Styles();
    if (styles == nullptr) {
        if (state.HiddenWordsStore != nullptr || !state.HiddenWordsTime) {
            SplitHiddenWords(DefaultHiddenWords, state.HiddenWords);
            state.HiddenWordsStore = nullptr;
            state.HiddenWordsTime = DateTime{};
        }
        return;
    }
    const DateTime changeTime = styles->ChangeTime("ListViewHideWordsWords");
    if (state.HiddenWordsStore == styles && state.HiddenWordsTime == changeTime) {
        return;
    }
    SplitHiddenWords(styles->Text("ListViewHideWordsWords"), state.HiddenWords);
    state.HiddenWordsStore = styles;
    state.HiddenWordsTime = styles->ChangeTime("ListViewHideWordsWords");
}

bool StyleSwitch(const SettingsStore* styles, std::string_view key) {
    return styles != nullptr && styles->Bool(key);
}

// Under the caller's pin on the entry.
bool MatchesWords(const std::vector<std::string>& words, const LogEntry& entry) {
    if (words.empty()) {
        return false;
    }
    // Rebuilding the lists tests every entry; the buffer keeps its capacity between calls.
    thread_local std::string searched;
    searched.assign(entry.Line);
    if (const AccessRecord* access = entry.Access()) {
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

// Under the caller's pin on the entry.
bool RefersLocally(const LogEntry& entry) {
    const std::string_view referer = entry.Access() ? entry.Access()->Referer() : std::string_view("-");
    const std::string name = entry.Server != nullptr ? AsciiLowerCase(entry.Server->Name()) : std::string();
    return IsLocalReferer(referer, name);
}

// The filters that read texts, under one pin for all of them; the others are asked first.
bool IsHiddenByTexts(const LogEntry& entry, const std::vector<std::string>* words, bool hideLocalReferers,
                     const std::string& shownAddress) {
    if (words == nullptr && !hideLocalReferers && shownAddress.empty())
        return false;
    const LinePin pin(entry);
    if (words != nullptr && MatchesWords(*words, entry))
        return true;
    if (hideLocalReferers && RefersLocally(entry))
        return true;
    return !shownAddress.empty() && entry.Access()->HostName() != shownAddress;
}

} // namespace

bool MatchesHiddenWords(const LogEntry& entry) {
    RefreshHiddenWords();
    const LinePin pin(entry);
    return MatchesWords(State().HiddenWords, entry);
}

bool IsLocalReferer(std::string_view referer, std::string_view lowerServerName) {
    if (referer.size() < 5) {
        return true;
    }
    if (lowerServerName.empty() || lowerServerName.size() > referer.size()) {
        return false;
    }
    const std::size_t last = referer.size() - lowerServerName.size();
    for (std::size_t at = 0; at <= last; ++at) {
        std::size_t i = 0;
        while (i < lowerServerName.size() && AsciiLower(referer[at + i]) == lowerServerName[i]) {
            ++i;
        }
        if (i == lowerServerName.size()) {
            return true;
        }
    }
    return false;
}

bool HasLocalReferer(const LogEntry& entry) {
    const LinePin pin(entry);
    return RefersLocally(entry);
}

DisplayFilterSettings DisplayFilterSettings::Current() {
    DisplayFilterSettings settings;
    const SettingsStore* styles = Styles();
    settings.HideNonDocuments = StyleSwitch(styles, "ListViewHideNonDocuments");
    settings.HideSpiders = StyleSwitch(styles, "ListViewHideSpiders");
    settings.HideWords = StyleSwitch(styles, "ListViewHideWords");
    settings.HideLocalReferers = StyleSwitch(styles, "ListViewHideLocalReferers");
    if (settings.HideWords) {
        RefreshHiddenWords();
        settings.Words = State().HiddenWords;
    }
    settings.ShownAddress = State().ShownAddress;
    return settings;
}

bool IsHiddenBy(const DisplayFilterSettings& settings, const LogEntry& entry) {
    const AccessRecord* access = entry.Access();
    if (access == nullptr) {
        return false;
    }
    if (settings.HideNonDocuments && !access->IsDocument) {
        return true;
    }
    if (settings.HideSpiders && access->IsSpider) {
        return true;
    }
    return IsHiddenByTexts(entry, settings.HideWords ? &settings.Words : nullptr, settings.HideLocalReferers,
                           settings.ShownAddress);
}

bool IsHiddenByFilters(const LogEntry& entry) {
    const AccessRecord* access = entry.Access();
    if (access == nullptr) {
        return false;
    }
    const SettingsStore* styles = Styles();
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
    if (hideWords)
        RefreshHiddenWords();
    return IsHiddenByTexts(entry, hideWords ? &State().HiddenWords : nullptr, hideLocalReferers,
                           State().ShownAddress);
}

void SetShownAddress(std::string address) {
    State().ShownAddress = std::move(address);
}

std::string ShownAddress() {
    return State().ShownAddress;
}

const std::vector<std::string>& HiddenWords() {
    return State().HiddenWords;
}

} // namespace kavel
