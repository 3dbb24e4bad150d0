#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
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
    void Clear();
    std::vector<Revisitor> Items() const;
    std::size_t Count() const;

    // Whether LoadRevisitors ran in this run, so that the process-wide save may write.
    bool Loaded() const;
    void SetLoaded(bool loaded);

private:
    struct State;
    std::unique_ptr<State> State_;
};

// The process-wide list.
RevisitorList& Revisitors();

const Revisitor* FindRevisitor(std::string_view address);
bool IsRevisitor(std::string_view address);
// Appends to the process-wide list; none when the address is already listed.
const Revisitor* AddRevisitor(std::string_view address, std::string_view hostName);

// Result of reading the revisitors file.
struct RevisitorLoad {
    bool FileFound = false;
    std::size_t Added = 0;
    // Lines without two ";"-separated tokens, skipped, and the 1-based number of the first.
    std::size_t Malformed = 0;
    std::optional<std::size_t> FirstMalformedLine;
};

// Appends the entries of the file's lines to list: "#" lines are skipped, lines without two
// ";"-separated tokens are skipped.
RevisitorLoad RevisitorsFromLines(const std::vector<std::string>& lines, RevisitorList& list);
// The whole file: the three header lines and "Address;HostName" per entry, CR LF ended. An
// entry that would not read back (";", quotes or line ends in it) is left out.
std::string RevisitorsFileText(const std::vector<Revisitor>& items);

// Empties list and reads the file into it; a missing file leaves the list unchanged. Marks
// the list as loaded unless reading fails. Throws std::system_error when the file exists but cannot be read.
RevisitorLoad LoadRevisitors(const std::filesystem::path& file, RevisitorList& list);
// Writes the file; throws std::system_error when it cannot be written.
void SaveRevisitors(const std::filesystem::path& file, const RevisitorList& list);
// The process-wide list and the home folder's ".revisitors" file. SaveRevisitors writes only
// when the list was loaded in this run and tells whether it wrote.
RevisitorLoad LoadRevisitors();
bool SaveRevisitors();

} // namespace kavel
