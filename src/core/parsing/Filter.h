#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kavel {

class TQueue;
class TFilterNCSA;
class TFilterW3C;

// Image indices of the small image list shared by the tree, the lists, the popup and the
// access record's derived images.
namespace image {
inline constexpr int None = -1;
inline constexpr int NewVisitor = 5;
inline constexpr int Spider = 6;
inline constexpr int KnownVisitor = 7;
inline constexpr int Revisitor = 8;
inline constexpr int StatusOk = 14;
inline constexpr int StatusError = 15;
inline constexpr int BrowserMsie = 16;
inline constexpr int BrowserFirefox = 17;
inline constexpr int BrowserOpera = 18;
inline constexpr int BrowserOther = 19;
inline constexpr int BrowserSafari = 20;
inline constexpr int BrowserNeon = 21;
inline constexpr int Buddy = 34;
} // namespace image

enum class TFilterKind : std::uint8_t { NCSA, W3C };

// The text fields of a record in one assignment: the parsers collect views into the line and
// store them at once. Fields left alone keep the record's defaults.
struct TFilterTexts {
    std::string_view DateText = "??.??.?? ??:??:??";
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
// server wrote), kept together in one compact block; they are read as views that stay valid
// until a text of the record is assigned again or the record is freed. A queued record is
// no longer changed, so views of queued records stay valid while the entry lives.
class TFilter {
public:
    explicit TFilter(TFilterKind kind = TFilterKind::NCSA);
    virtual ~TFilter();
    TFilter(const TFilter&) = delete;
    TFilter& operator=(const TFilter&) = delete;

    TFilterKind Kind() const { return Kind_; }

    // A record with its texts, made in one allocation: the parsers' way of creating one.
    static std::unique_ptr<TFilterNCSA> MakeNCSA(const TFilterTexts& texts);
    static std::unique_ptr<TFilterW3C> MakeW3C(const TFilterTexts& texts);
    // Frees what MakeNCSA or MakeW3C allocated as well as a plainly made record.
    static void operator delete(void* p) { ::operator delete(p); }

    // Replaces every text field at once (W3C fields are ignored for NCSA records).
    void AssignTexts(const TFilterTexts& texts);
    // Address and HostName in one step.
    void AssignAddressPair(std::string_view address, std::string_view hostName);

    std::string_view DateText() const;
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

    std::int32_t Status = 0;
    std::int32_t Bytes = 0;
    bool IsDocument = false;
    // 0 new visitor, 1 known visitor, 2 revisitor.
    std::uint8_t VisitorState = 0;
    bool IsSpider = false;
    bool IsBuddy = false;

    std::string_view PageWithoutQuery() const;
    int StatusImage() const;
    int BrowserImage() const;
    int VisitorImage() const;

protected:
    std::string_view TextAt(std::uint8_t slot) const;
    void AssignSlot(std::uint8_t slot, std::string_view text);

    template <class T>
    static std::unique_ptr<T> MakeWithTexts(const TFilterTexts& texts);

    // Implementation detail owned by the parsing unit: compact storage of the texts.
    struct TTextStore;
    std::unique_ptr<TTextStore> Texts_;
    TFilterKind Kind_;
    bool Resolved_ = false;
};

class TFilterNCSA final : public TFilter {
public:
    TFilterNCSA()
        : TFilter(TFilterKind::NCSA) {}
};

class TFilterW3C final : public TFilter {
public:
    TFilterW3C()
        : TFilter(TFilterKind::W3C) {}

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

    std::int32_t ServerPort = 80;
    std::int32_t SubStatus = 0;
    std::int32_t Win32Status = 0;
    std::int32_t BytesReceived = 0;
    std::int32_t TimeTaken = 0;
};

// The token without its surrounding double quotes, pairs of quotes reduced to one.
std::string Dequote(std::string_view token);
// Client-address step of both parsers: Address and HostName := token, then the cached
// reverse look-up when the option MiscDnsResolve is on.
void SetAddress(TFilter& record, std::string_view token);
// Bytes := token as a 32-bit integer unless it is "-"; false when it is no such integer.
bool SetBytes(TFilter& record, std::string_view token);

// ParseNCSA's steps: the time stamp from tokens 3 and 4 (false: abandon the line) and the
// request from token 5 (false: fewer than two words).
bool ParseNCSADate(TFilter& record, std::string_view token3, std::string_view token4, TQueue& entry);
bool ParseRequest(TFilter& record, std::string_view token5);
// ParseW3C's date and time step, TimeZone correction included; false abandons the line.
bool ParseW3CDateTime(TFilter& record, std::string_view date, std::string_view time, TQueue& entry);

// The parsers. On success the entry's Access holds the record and Time may be set; on
// failure Access stays empty.
void ParseNCSA(TQueue& entry);
void ParseW3C(TQueue& entry);

} // namespace kavel
