#include "acquisition/DisplayFilters.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "base/LineBlocks.h"
#include "base/Text.h"
#include "config/SettingsStore.h"
#include "parsing/AccessRecord.h"
#include "parsing/SuspiciousRequests.h"

#include <optional>
#include <utility>

namespace kavel {

namespace {

constexpr const char* DefaultHiddenWords = "Hier W\xC3\xB6rter eintragen";

void SplitHiddenWords(std::string_view text, std::vector<std::string>& words) {
    words.clear();
    ExtractStrings(",", "", text, words);
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

void DisplayFilters::RefreshHiddenWords() {
    const SettingsStore* styles = Styles_;
    if (styles == nullptr) {
        if (HiddenWordsStore_ != nullptr || !HiddenWordsTime_) {
            SplitHiddenWords(DefaultHiddenWords, HiddenWords_);
            HiddenWordsStore_ = nullptr;
            HiddenWordsTime_ = DateTime{};
        }
        return;
    }
    const DateTime changeTime = styles->ChangeTime("ListViewHideWordsWords");
    if (HiddenWordsStore_ == styles && HiddenWordsTime_ == changeTime) {
        return;
    }
    SplitHiddenWords(styles->Text("ListViewHideWordsWords"), HiddenWords_);
    HiddenWordsStore_ = styles;
    HiddenWordsTime_ = styles->ChangeTime("ListViewHideWordsWords");
}

bool DisplayFilters::MatchesHiddenWords(const LogEntry& entry) {
    RefreshHiddenWords();
    const LinePin pin(entry);
    return MatchesWords(HiddenWords_, entry);
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

DisplayFilterSettings DisplayFilters::Current() {
    DisplayFilterSettings settings;
    const SettingsStore* styles = Styles_;
    settings.HideNonDocuments = StyleSwitch(styles, "ListViewHideNonDocuments");
    settings.HideSpiders = StyleSwitch(styles, "ListViewHideSpiders");
    settings.HideWords = StyleSwitch(styles, "ListViewHideWords");
    settings.HideLocalReferers = StyleSwitch(styles, "ListViewHideLocalReferers");
    if (settings.HideWords) {
        RefreshHiddenWords();
        settings.Words = HiddenWords_;
    }
    settings.ShownAddress = ShownAddress_;
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

bool DisplayFilters::IsHidden(const LogEntry& entry) {
    const AccessRecord* access = entry.Access();
    if (access == nullptr) {
        return false;
    }
    const SettingsStore* styles = Styles_;
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
    return IsHiddenByTexts(entry, hideWords ? &HiddenWords_ : nullptr, hideLocalReferers, ShownAddress_);
}

} // namespace kavel
