#pragma once

#include "parsing/AccessRecord.h"

#include <filesystem>
#include <memory>
#include <optional>
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
    // Replaces the whole list.
    void Assign(std::vector<Spider> items);
    void Clear();
    // A copy of the entries in list order.
    std::vector<Spider> Items() const;
    std::size_t Count() const;

    struct Snapshot;

private:
    struct State;
    std::unique_ptr<State> State_;
};

// The process-wide list.
SpiderList& Spiders();

// Sets IsSpider from the spider list by the record's HostName.
void ClassifySpider(AccessRecord& record);
// The first entry of the process-wide list matching hostName (same test as ClassifySpider).
std::optional<Spider> FindSpider(std::string_view hostName);
// Appends to the process-wide list (main thread).
void AddSpider(std::string_view name, bool noSpider);

// The entries of the spiders file's lines: "#" lines, lines without a name or a Boolean
// after ";" are skipped.
std::vector<Spider> SpidersFromLines(const std::vector<std::string>& lines);
// The whole file: the two header lines and "Name;-1" or "Name;0" per entry, CR LF ended.
std::string SpidersFileText(const std::vector<Spider>& items);

// Replaces the list with the file's entries; a missing file leaves the list unchanged.
// Throws std::system_error when the file exists but cannot be read.
void LoadSpiders(const std::filesystem::path& file);
// Writes the list, replacing the file; throws std::system_error when it cannot be written.
void SaveSpiders(const std::filesystem::path& file);
// The same for the process-wide list and the home folder's ".spiders" file.
void LoadSpiders();
void SaveSpiders();

} // namespace kavel
