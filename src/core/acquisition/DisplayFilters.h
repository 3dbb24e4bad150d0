#pragma once

#include "platform/DateTime.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavel {

class LogEntry;

class SettingsStore;

// Whether the referring page counts as local: shorter than five characters, or containing
// the server's name (both folded to lower case A-Z only).
bool HasLocalReferer(const LogEntry& entry);

// HasLocalReferer's test for a referring page and the server's name already folded to lower case
// (A-Z only): no copies, for passes over many entries.
bool IsLocalReferer(std::string_view referer, std::string_view lowerServerName);

// The filters' settings read once, for a pass over many entries that must decide alike for each
// of them however the settings change meanwhile (the overview's counts subtract an entry by the
// same decision that added it).
struct DisplayFilterSettings {
    bool HideNonDocuments = false;
    bool HideSpiders = false;
    bool HideWords = false;
    bool HideLocalReferers = false;
    std::vector<std::string> Words;
    std::string ShownAddress;
};
// Whether the settings keep the entry's access out of the accesses list.
bool IsHiddenBy(const DisplayFilterSettings& settings, const LogEntry& entry);

// The display filters of the accesses list. All of this belongs to the user-interface
// thread; the switches and the hidden words are read from the Styles store (none: every
// switch off, the default words).
class DisplayFilters {
public:
    void SetStyles(const SettingsStore* styles) { Styles_ = styles; }

    // Whether the entry's access is kept out of the accesses list: hide page elements, hide
    // search engines, hide words and hide local referring pages, in this order, then the
    // singled-out address (compared with case).
    bool IsHidden(const LogEntry& entry);

    // Whether one of the hidden words occurs, with case, in the raw line, the date text, the
    // host name, a blank and the status text, joined without separators. The words are split
    // again only when the words key's change time differs from the one last split.
    bool MatchesHiddenWords(const LogEntry& entry);

    // The switches, the hidden words and the singled-out address now.
    DisplayFilterSettings Current();

    // The one host name to show; empty shows all. Not persisted.
    void SetShownAddress(std::string address) { ShownAddress_ = std::move(address); }
    const std::string& ShownAddress() const { return ShownAddress_; }

    // The hidden words as last split (filled by MatchesHiddenWords).
    const std::vector<std::string>& HiddenWords() const { return HiddenWords_; }

private:
    void RefreshHiddenWords();

    const SettingsStore* Styles_ = nullptr;
    std::string ShownAddress_;
    // The words cache remembers which store it was filled from as well, so that a store
    // replaced in a test is never mistaken for the old one; no time at all means "never filled".
    std::vector<std::string> HiddenWords_;
    std::optional<DateTime> HiddenWordsTime_;
    const SettingsStore* HiddenWordsStore_ = nullptr;
};

} // namespace kavel
