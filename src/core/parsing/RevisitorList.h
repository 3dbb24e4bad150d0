#pragma once

#include "base/DefinitionFile.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// A client that came back after a pause; remembered by address across runs.
struct Revisitor {
    std::string Address;
    std::string HostName;
    bool operator==(const Revisitor&) const = default;
};

// Append-only list of revisitors with unique addresses. Several reader threads look up and
// append at once; finding and appending is one step, so an address is never listed twice.
// Entries never move or change: a returned pointer stays valid until Clear or a load.
class RevisitorList {
public:
    RevisitorList();
    ~RevisitorList();
    RevisitorList(const RevisitorList&) = delete;
    RevisitorList& operator=(const RevisitorList&) = delete;

    // The entry whose Address equals address exactly, or none.
    const Revisitor* Find(std::string_view address) const;
    bool Contains(std::string_view address) const { return Find(address) != nullptr; }
    // Appends unless the address is listed; the new entry, or none when it was listed.
    const Revisitor* Add(std::string_view address, std::string_view hostName);
    // The same for an entry read from the file: line is what the file held, and it is what
    // the file gets back, whatever the entry's text.
    const Revisitor* AddFromFile(std::string_view address, std::string_view hostName, std::string_view line);
    // A line of the file that gave no entry, to be written back in its place.
    void KeepLine(std::size_t lineNumber, std::string_view line);
    // The entry lines and kept lines, CR LF ended, without header. An entry added during the
    // run that would not read back (";", quotes or line ends in it) is left out.
    std::string FileLines() const;
    void Clear();
    std::vector<Revisitor> Items() const;
    std::size_t Count() const;

    // Whether LoadRevisitors ran in this run, so that the end of the run may write it back.
    bool Loaded() const;
    void SetLoaded(bool loaded);

private:
    struct State;
    std::unique_ptr<State> State_;
};

// Result of reading the revisitors file.
struct RevisitorLoad {
    bool FileFound = false;
    std::size_t Added = 0;
    // Lines without two ";"-separated tokens, kept unchanged, and the 1-based number of the first.
    std::size_t Malformed = 0;
    std::optional<std::size_t> FirstMalformedLine;
};

// Appends the entries of the file's lines to list: "#" lines are skipped; lines without two
// ";"-separated tokens and lines of an address already listed are kept to be written back.
RevisitorLoad RevisitorsFromLines(const std::vector<std::string>& lines, RevisitorList& list,
                                  const std::stop_token& stop = {});
// The whole file: the three header lines and "Address;HostName" per entry, CR LF ended. An
// entry that would not read back (";", quotes or line ends in it) is left out.
std::string RevisitorsFileText(const std::vector<Revisitor>& items);

// Empties list and reads the file into it; a missing file leaves the list unchanged. Marks
// the list as loaded unless reading fails. Throws std::system_error when the file exists but
// cannot be read, LoadStoppedError once stop is requested (the list is then not marked).
RevisitorLoad LoadRevisitors(const std::filesystem::path& file, RevisitorList& list,
                             std::stop_token stop = {});
// Writes the file; throws std::system_error when it cannot be written.
void SaveRevisitors(const std::filesystem::path& file, const RevisitorList& list);

} // namespace kavel
