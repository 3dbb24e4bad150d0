#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace kavel {

class NameCache;

class NcsaRecord;
class W3cRecord;

// The log formats a server may write; the values are those of the servers file.
enum class LogFormat : std::int32_t { Ncsa = 0, W3c = 1 };

// What the revisit rule found out about a document access' visitor; the values are printed.
enum class VisitorKind : std::uint8_t { New = 0, Known = 1, Revisitor = 2 };

// The browser a user agent names (AccessRecord::Browser).
enum class BrowserKind : std::uint8_t { Msie, Firefox, Opera, Other, Safari, Neon };

// What the visitor column marks of an access (AccessRecord::Visitor): nothing for a page
// element; for a document the spider, the buddy or else its visitor state.
enum class VisitorMark : std::uint8_t { None, New, Spider, Known, Revisitor, Buddy };

// The text fields of a record in one assignment: the parsers collect views into the line and
// store them at once. Fields left alone keep the record's defaults.
struct AccessTexts {
    std::string_view DateText = "??.??.?? ??:??:??";
    // Read as following DateText directly; kept apart so that a date and its zone offset,
    // which the line separates by a blank, can both stay slices of the line.
    std::string_view DateTextTail;
    std::string_view Address;
    // Equal to Address unless set.
    std::optional<std::string_view> HostName;
    std::string_view User = "-";
    std::string_view UserAgent = "-";
    std::string_view Method;
    std::string_view Page;
    std::string_view Protocol = "?";
    std::string_view Referer = "-";
    // W3C records only.
    std::string_view ServerAddress;
    std::optional<std::string_view> ServerHostName;
    std::string_view SiteName = "?";
    std::string_view ComputerName = "?";
    std::string_view Cookie = "-";
};

// One parsed access. Text fields are bytes of the log line (Windows-1252 or whatever the
// server wrote): slices of the entry's line where the bytes are the line's, the others kept
// in one compact side block. They are read as views that stay valid until a text of the
// record is assigned again or the record is freed. A queued record is no longer changed, so
// views of queued records stay valid while the entry lives.
class AccessRecord {
public:
    explicit AccessRecord(LogFormat kind = LogFormat::Ncsa);
    // Not virtual: the kinds differ by numbers only, and a record is told by Kind(). Keeping
    // no table pointer saves every queued access 8 bytes.
    ~AccessRecord();
    AccessRecord(const AccessRecord&) = delete;
    AccessRecord& operator=(const AccessRecord&) = delete;

    LogFormat Kind() const { return Kind_ != 0 ? LogFormat::W3c : LogFormat::Ncsa; }

    // A record with its texts, made in one allocation: the parsers' way of creating one.
    static std::unique_ptr<NcsaRecord> MakeNcsa(const AccessTexts& texts);
    static std::unique_ptr<W3cRecord> MakeW3c(const AccessTexts& texts);
    // A draft in the calling thread's scratch space whose texts inside line are kept as
    // slices of it: valid until the thread's next draft, and only while line lives. An entry
    // takes it over with PlaceCopy.
    static std::unique_ptr<NcsaRecord> DraftNcsa(const AccessTexts& texts, std::string_view line);
    static std::unique_ptr<W3cRecord> DraftW3c(const AccessTexts& texts, std::string_view line);
    // The texts of a draft of line that are no slices of it, as they are to follow the line
    // when PlaceCopy is told sideWithLine; empty when there are none, or when the draft's
    // slices are not of line.
    std::string_view SideTextsFor(std::string_view line) const;
    // Bytes that PlaceCopy needs, alignment that of a pointer.
    std::size_t PlacedSize(bool sideWithLine = false) const;
    // A copy of the record made in memory (PlacedSize bytes), its line slices referring to the
    // bytes right after those (where the caller puts a copy of the line this record's slices
    // refer to), or, given lineKeyAt, to the line whose key the caller keeps in the pointer at
    // lineKeyAt, shortly before memory (an entry's line). With sideWithLine, the texts that are
    // no slices are read from right after the line, where the caller puts SideTextsFor(line)
    // (in a line block they are compressed with the line). Deleting the copy destroys it
    // without freeing memory, which belongs to the caller.
    AccessRecord* PlaceCopy(void* memory, const char* const* lineKeyAt = nullptr,
                            bool sideWithLine = false) const;
    // Frees what MakeNcsa or MakeW3c allocated as well as a plainly made record; drafts and
    // placed copies are only destroyed.
    static void operator delete(AccessRecord* p, std::destroying_delete_t);

    // Replaces every text field at once (W3C fields are ignored for NCSA records).
    void AssignTexts(const AccessTexts& texts);
    // Address and HostName in one step.
    void AssignAddressPair(std::string_view address, std::string_view hostName);

    // A copy: the text may be kept in two pieces.
    std::string DateText() const;
    void SetDateText(std::string_view text);
    std::string_view Address() const;
    void SetAddress(std::string_view text);
    std::string_view HostName() const;
    void SetHostName(std::string_view text);
    // HostName and Address differ, compared ignoring ASCII case.
    bool Resolved() const { return Resolved_; }
    std::string_view User() const;
    void SetUser(std::string_view text);
    std::string_view UserAgent() const;
    void SetUserAgent(std::string_view text);
    std::string_view Method() const;
    void SetMethod(std::string_view text);
    std::string_view Page() const;
    void SetPage(std::string_view text);
    std::string_view Protocol() const;
    void SetProtocol(std::string_view text);
    std::string_view Referer() const;
    void SetReferer(std::string_view text);

    // 64 bits: downloads of several GiB are ordinary.
    std::int64_t Bytes = 0;
    std::int32_t Status = 0;
    // Bits, as every queued access keeps them.
    bool IsDocument : 1 = false;
    VisitorKind VisitorState : 2 = VisitorKind::New;
    bool IsSpider : 1 = false;
    bool IsBuddy : 1 = false;

    std::string_view PageWithoutQuery() const;
    // What the exception rules read of the page and the method (FindRequestFacts), kept once
    // found so that the lists and counts of queued accesses need not read their texts again;
    // 0 while unknown, and again once a text is assigned.
    std::uint16_t RequestFacts() const { return RequestFacts_; }
    void SetRequestFacts(std::uint16_t facts) { RequestFacts_ = facts; }
    // A status of 400 or above: the request failed.
    bool HasErrorStatus() const { return Status >= 400; }
    BrowserKind Browser() const;
    VisitorMark Visitor() const;

protected:
    std::string_view TextAt(std::uint8_t slot) const;
    // Every slot's text, the date text's tail last.
    static constexpr std::size_t SlotArraySize = 15;
    std::array<std::string_view, SlotArraySize> CurrentTexts() const;
    std::string_view LineOfTexts() const;
    // What the texts keep of that line: its bytes, or its line block's key.
    const char* LineKeyOfTexts() const;
    void AssignSlot(std::uint8_t slot, std::string_view text);

    template <class T>
    static std::unique_ptr<T> MakeWithTexts(const AccessTexts& texts, std::string_view line, bool draft);

    enum class Placement : std::uint8_t { Heap, Draft, Placed };

    // Beside the public bits: 1 for W3C.
    std::uint8_t Kind_ : 1;
    bool Resolved_ : 1 = false;
    Placement Placement_ : 2 = Placement::Heap;
    std::uint16_t RequestFacts_ = 0;
    // Implementation detail owned by the parsing unit: compact storage of the texts.
    struct TextStore;
    std::unique_ptr<TextStore> Texts_;
};

class NcsaRecord final : public AccessRecord {
public:
    NcsaRecord()
        : AccessRecord(LogFormat::Ncsa) {}
};

class W3cRecord final : public AccessRecord {
public:
    W3cRecord()
        : AccessRecord(LogFormat::W3c) {}

    std::string_view ServerAddress() const;
    void SetServerAddress(std::string_view text);
    std::string_view ServerHostName() const;
    void SetServerHostName(std::string_view text);
    std::string_view SiteName() const;
    void SetSiteName(std::string_view text);
    std::string_view ComputerName() const;
    void SetComputerName(std::string_view text);
    std::string_view Cookie() const;
    void SetCookie(std::string_view text);

    std::int64_t BytesReceived = 0;
    // Milliseconds.
    std::int64_t TimeTaken = 0;
    std::int32_t ServerPort = 80;
    std::int32_t SubStatus = 0;
    std::int32_t Win32Status = 0;
};

// Client-address step of both parsers: Address and HostName := token, then the name the cache
// looks up (waiting for it) when a cache is given.
void SetAddressLookingUpName(AccessRecord& record, std::string_view token, NameCache* names);

} // namespace kavel
