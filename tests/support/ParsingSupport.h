#pragma once

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"
#include "support/TestWorkspace.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace kavel::test {

// An Options store that lives only in memory, installed in the test's workspace for the scope:
// the parsers read MiscDnsResolve and TimeRevisitorAfterMinutes from it.
class ScopedOptions {
public:
    explicit ScopedOptions(bool dnsResolve = false, std::int32_t revisitorMinutes = 10) {
        Config_.SetPersistenceMode(Persistence::None);
        Config_.AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, dnsResolve);
        Config_.AddItem("Options", "TimeRevisitorAfterMinutes", SettingKind::Integer, revisitorMinutes);
        Space().SetOptions(&Config_);
    }
    ~ScopedOptions() {
        if (Space().Options() == &Config_)
            Space().SetOptions(nullptr);
    }
    ScopedOptions(const ScopedOptions&) = delete;
    ScopedOptions& operator=(const ScopedOptions&) = delete;

    void SetDnsResolve(bool value) { Config_.SetValue("MiscDnsResolve", value); }
    void SetRevisitorMinutes(std::int32_t value) { Config_.SetValue("TimeRevisitorAfterMinutes", value); }

private:
    SettingsStore Config_;
};

// Empties the test workspace's classification lists and entry queue before and after a test.
class ScopedClassificationLists {
public:
    ScopedClassificationLists() { Reset(); }
    ~ScopedClassificationLists() { Reset(); }
    ScopedClassificationLists(const ScopedClassificationLists&) = delete;
    ScopedClassificationLists& operator=(const ScopedClassificationLists&) = delete;

    static void Reset() {
        Space().Entries().Clear();
        Space().Spiders().Clear();
        Space().Documents().Clear();
        Space().Buddies().Clear();
        Space().Revisitors().Clear();
        Space().Revisitors().SetLoaded(false);
    }
};

// The lines of a file as a reader hands them over: LF ends a line, a CR before it is dropped.
inline std::vector<std::string> ReadLogLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// The parse step of the reader without the keep period, in the test's workspace.
inline void ParseInto(LogEntry& entry) {
    ParseEntry(entry, EntrySettings::Of(Space()), KeepPeriod::Ignored);
}

// Parses one line for server as the reader does; the entry, or none when it is not kept.
inline std::unique_ptr<LogEntry> ParseLine(const std::string& line, Server& server) {
    auto entry = LogEntry::Make(line, &server);
    if (!ParseEntry(*entry, EntrySettings::Of(Space())))
        return nullptr;
    return entry;
}

} // namespace kavel::test
