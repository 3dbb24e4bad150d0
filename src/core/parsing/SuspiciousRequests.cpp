#include "parsing/SuspiciousRequests.h"

#include "base/Text.h"
#include "parsing/AccessRecord.h"
#include "parsing/SpiderList.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <tuple>
#include <utility>

namespace kavel {

namespace {

struct StatusEntry {
    std::int32_t Code;
    std::string_view Text;
};

// Sorted by code for the binary search.
constexpr StatusEntry StatusTexts[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {102, "Processing"},
    {200, "Ok"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {207, "Multi-Status"},
    {210, "Content Different"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {306, "(Unused)"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Request Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {422, "Unprocessable Entity"},
    {423, "Locked"},
    {424, "Method Failure"},
    {425, "Insufficient Space On Resource"},
    {475, "Invalid Collblob"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {507, "Insufficient Storage"},
};

constexpr std::array<std::string_view, 6> ExecutableKinds = {"EXE", "COM", "DLL", "BAT", "VBS", "CMD"};

// The executable kinds that occur as "." and the kind in page, ignoring ASCII case, as bits by
// index; one pass over the page, which every access goes through.
unsigned DottedKinds(std::string_view page) {
    unsigned found = 0;
    for (std::size_t dot = page.find('.'); dot != std::string_view::npos; dot = page.find('.', dot + 1)) {
        for (std::size_t i = 0; i < ExecutableKinds.size(); ++i) {
            const std::string_view kind = ExecutableKinds[i];
            if (page.size() - dot - 1 >= kind.size() &&
                EqualsAsciiIgnoreCase(page.substr(dot + 1, kind.size()), kind)) {
                found |= 1u << i;
            }
        }
    }
    return found;
}

} // namespace

std::string_view StatusText(std::int32_t code) {
    const auto* const end = std::end(StatusTexts);
    const auto* const found =
        std::lower_bound(std::begin(StatusTexts), end, code,
                         [](const StatusEntry& item, std::int32_t c) { return item.Code < c; });
    if (found != end && found->Code == code) {
        return found->Text;
    }
    return "Unknown Status Code";
}

namespace {

namespace request_fact {
constexpr std::uint16_t Known = 1u << 0;
constexpr std::uint16_t MethodPut = 1u << 1;
constexpr std::uint16_t MethodDelete = 1u << 2;
constexpr std::uint16_t ParentPath = 1u << 3;
constexpr std::uint16_t Robots = 1u << 4;
// The executable kinds found, from this bit on.
constexpr unsigned KindsShift = 8;
} // namespace request_fact
static_assert(ExecutableKinds.size() + request_fact::KindsShift <= 16);

// The rules in their order; WithMessage false leaves the message empty, for callers that only
// count what fired and should not pay for the texts. The facts of the page and the method come
// from the record where it keeps them: then only a message reads its texts.
template <bool WithMessage>
SuspicionCheck RunRules(const AccessRecord* access, const SpiderList& spiders) {
    SuspicionCheck check;
    if (access == nullptr) {
        return check;
    }
    const std::uint16_t facts =
        access->RequestFacts() != 0 ? access->RequestFacts() : FindRequestFacts(*access);
    std::string_view page;
    if constexpr (WithMessage)
        page = access->Page();

    constexpr std::tuple<std::uint16_t, std::string_view, std::int32_t> WritingMethods[] = {
        {request_fact::MethodPut, "PUT", suspicion_code::MethodPut},
        {request_fact::MethodDelete, "DELETE", suspicion_code::MethodDelete}};
    for (const auto& [fact, method, code] : WritingMethods) {
        if ((facts & fact) != 0) {
            check.Code = code;
            if constexpr (WithMessage) {
                check.Message = "Benutzer ";
                check.Message += access->User();
                check.Message += " nutzte die ";
                check.Message += method;
                check.Message += " Methode auf Seite ";
                check.Message += page;
            }
        }
    }

    if ((facts & request_fact::ParentPath) != 0) {
        check.Code = suspicion_code::ParentPath;
        check.Kind = SuspicionKind::Several;
        if constexpr (WithMessage) {
            check.Message = "Der aufgerufene Pfad ";
            check.Message += page;
            check.Message += " beinhaltet ../";
        }
    }

    if (access->Status >= 400) {
        if (check.Code != suspicion_code::None) {
            check.Kind = SuspicionKind::Several;
        } else if (access->Status == 401) {
            check.Kind = SuspicionKind::Unauthorized;
        } else {
            check.Kind = SuspicionKind::Status;
        }
        check.Code = access->Status;
        if constexpr (WithMessage) {
            check.Message = StatusText(access->Status);
            check.Message += ' ';
            check.Message += std::to_string(access->Status);
            check.Message += " Fehler auf Seite ";
            check.Message += page;
        }
    }

    const unsigned kinds = static_cast<unsigned>(facts) >> request_fact::KindsShift;
    for (std::size_t i = 0; i < ExecutableKinds.size(); ++i) {
        if ((kinds >> i & 1u) == 0) {
            continue;
        }
        if (check.Code != suspicion_code::None) {
            check.Kind = SuspicionKind::Several;
        }
        check.Code = suspicion_code::Executable + static_cast<std::int32_t>(i);
        if constexpr (WithMessage) {
            check.Message = "Die ausf\xC3\xBChrbare ";
            check.Message += ExecutableKinds[i];
            check.Message += " Datei ";
            check.Message += page;
            check.Message += " wurde angefordert";
        }
    }

    // A looked-up name is kept apart from the line: the rule reads no line.
    if ((facts & request_fact::Robots) != 0 && access->Resolved() && !spiders.Find(access->HostName())) {
        check.Code = suspicion_code::NewSpider;
        check.Kind = SuspicionKind::Spider;
        if constexpr (WithMessage) {
            check.Message = "Neue unbekannte Suchmaschine ";
            check.Message += access->HostName();
            check.Message += " erkannt";
        }
    }
    return check;
}

} // namespace

SuspicionCheck CheckSuspicious(const AccessRecord* access, const SpiderList& spiders) {
    return RunRules<true>(access, spiders);
}

SuspicionCheck CheckSuspiciousCode(const AccessRecord* access, const SpiderList& spiders) {
    return RunRules<false>(access, spiders);
}

std::uint16_t FindRequestFacts(const AccessRecord& access) {
    const std::string_view page = access.Page();
    std::uint16_t facts = request_fact::Known;
    if (EqualsAsciiIgnoreCase(access.Method(), "PUT"))
        facts |= request_fact::MethodPut;
    else if (EqualsAsciiIgnoreCase(access.Method(), "DELETE"))
        facts |= request_fact::MethodDelete;
    if (page.find("../") != std::string_view::npos)
        facts |= request_fact::ParentPath;
    if (EqualsAsciiIgnoreCase(page, "/robots.txt"))
        facts |= request_fact::Robots;
    facts = static_cast<std::uint16_t>(facts | DottedKinds(page) << request_fact::KindsShift);
    return facts;
}

} // namespace kavel
