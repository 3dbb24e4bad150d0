#pragma once

#include "parsing/Filter.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

class TQueue;
class TEntryQueue;

// A client that came back after a pause; remembered by address across runs.
struct TRevisitor {
    std::string Address;
    std::string HostName;
    bool operator==(const TRevisitor&) const = default;
};

// Append-only list of revisitors with unique addresses. Several reader threads look up and
// append at once; finding and appending is one step, so an address is never listed twice.
// Entries never move or change: a returned pointer stays valid until Clear or a load.
class TRevisitorList {
public:
    TRevisitorList();
    ~TRevisitorList();
    TRevisitorList(const TRevisitorList&) = delete;
    TRevisitorList& operator=(const TRevisitorList&) = delete;

    // The entry whose Address equals address exactly, or none.
    const TRevisitor* Find(std::string_view address) const;
    bool Contains(std::string_view address) const { return Find(address) != nullptr; }
    // Appends unless the address is listed; the new entry, or none when it was listed.
    const TRevisitor* Add(std::string_view address, std::string_view hostName);
    void Clear();
    std::vector<TRevisitor> Items() const;
    std::size_t Count() const;

    // Whether LoadRevisitors ran in this run, so that the process-wide save may write.
    bool Loaded() const;
    void SetLoaded(bool loaded);

private:
    struct TState;
    std::unique_ptr<TState> State_;
};

// The process-wide list.
TRevisitorList& Revisitors();

const TRevisitor* FindRevisitor(std::string_view address);
bool IsRevisitor(std::string_view address);
// Appends to the process-wide list; none when the address is already listed.
const TRevisitor* AddRevisitor(std::string_view address, std::string_view hostName);

// The revisit rule: sets VisitorState of a document record and may list its address. Walks
// the process-wide entry queue under its shared lock; the threshold is the option
// TimeRevisitorAfterMinutes.
void ApplyRevisitRule(TFilter& record, const TQueue& entry);
// The same rule against a given queue, list and threshold (tests, benchmarks).
void ApplyRevisitRule(TFilter& record, const TQueue& entry, const TEntryQueue& queue,
                      TRevisitorList& revisitors, std::int32_t thresholdMinutes);

// Result of reading the revisitors file.
struct TRevisitorLoad {
    bool FileFound = false;
    std::size_t Added = 0;
    // Lines without two ";"-separated tokens, skipped, and the 1-based number of the first.
    std::size_t Malformed = 0;
    std::optional<std::size_t> FirstMalformedLine;
};

// Appends the entries of the file's lines to list: "#" lines are skipped, lines without two
// ";"-separated tokens are skipped.
TRevisitorLoad RevisitorsFromLines(const std::vector<std::string>& lines, TRevisitorList& list);
// The whole file: the three header lines and "Address;HostName" per entry, CR LF ended. An
// entry that would not read back (";", quotes or line ends in it) is left out.
std::string RevisitorsFileText(const std::vector<TRevisitor>& items);

// Empties list and reads the file into it; a missing file leaves the list unchanged. Marks
// the list as loaded unless reading fails. Throws std::system_error when the file exists but cannot be read.
TRevisitorLoad LoadRevisitors(const std::filesystem::path& file, TRevisitorList& list);
// Writes the file; throws std::system_error when it cannot be written.
void SaveRevisitors(const std::filesystem::path& file, const TRevisitorList& list);
// The process-wide list and the home folder's ".revisitors" file. SaveRevisitors writes only
// when the list was loaded in this run and tells whether it wrote.
TRevisitorLoad LoadRevisitors();
bool SaveRevisitors();

} // namespace kavel
