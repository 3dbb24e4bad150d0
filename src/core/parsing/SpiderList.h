#pragma once

#include "base/DefinitionFile.h"
#include "parsing/AccessRecord.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// One entry of the spider list: hosts whose name ends in Name (ignoring ASCII case) are
// spiders, or explicitly not spiders when NoSpider is set.
struct Spider {
    std::string Name;
    bool NoSpider = false;
    bool operator==(const Spider&) const = default;
};

// The ordered spider list; the first matching entry wins. Reader threads classify while the
// main thread appends: every change publishes a new immutable snapshot, so a classification
// never sees a half-made list and readers never wait for each other.
class SpiderList {
public:
    SpiderList();
    ~SpiderList();
    SpiderList(const SpiderList&) = delete;
    SpiderList& operator=(const SpiderList&) = delete;

    // The first entry whose Name ends hostName, compared ignoring ASCII case, or none.
    std::optional<Spider> Find(std::string_view hostName) const;
    // IsSpider for hostName by the first matching entry; none when no entry matches.
    std::optional<bool> Verdict(std::string_view hostName) const;
    // Appends without a duplicate test.
    void Add(std::string_view name, bool noSpider);
    // Replaces the whole list; kept holds the file's lines that gave no entry, to be written
    // back in their places.
    void Assign(std::vector<Spider> items, std::vector<KeptLine> kept = {});
    void Clear();
    std::vector<KeptLine> KeptLines() const;
    // A copy of the entries in list order.
    std::vector<Spider> Items() const;
    std::size_t Count() const;

    struct Snapshot;

private:
    struct State;
    std::unique_ptr<State> State_;
};

// Sets IsSpider from the list by the record's HostName (a name the list does not know leaves
// the record as it is).
void ClassifySpider(const SpiderList& spiders, AccessRecord& record);

// What the spiders file's lines hold: "#" lines and empty lines are skipped; a line without
// a name or a Boolean after ";" gives no entry and is kept to be written back unchanged.
struct SpiderLines {
    std::vector<Spider> Items;
    std::vector<KeptLine> Kept;
    UnreadLines Unread;
};
SpiderLines ReadSpiderLines(const std::vector<std::string>& lines, const std::stop_token& stop = {});
// Only the entries of the lines.
std::vector<Spider> SpidersFromLines(const std::vector<std::string>& lines);
// The whole file: the two header lines and "Name;-1" or "Name;0" per entry, CR LF ended, with
// the kept lines in their places.
std::string SpidersFileText(const std::vector<Spider>& items, const std::vector<KeptLine>& kept = {});

// Replaces the list with the file's entries; a missing file leaves the list unchanged.
// Throws std::system_error when the file exists but cannot be read, LoadStoppedError once
// stop is requested (the list then stays as it was). Returns the lines that gave no entry.
UnreadLines LoadSpiders(const std::filesystem::path& file, SpiderList& spiders, std::stop_token stop = {});
// Writes the list, replacing the file; throws std::system_error when it cannot be written.
void SaveSpiders(const std::filesystem::path& file, const SpiderList& spiders);

} // namespace kavel
