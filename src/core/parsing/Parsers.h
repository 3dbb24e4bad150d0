#pragma once

#include "parsing/AccessRecord.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace kavel {

class NameCache;
class NamePass;
struct ClassificationLists;

// The order of the fields of W3C lines, as the log's "#Fields:" directive declares it: one
// field index (of the fixed field list) per token, Unknown for a field the parser skips.
struct W3cFieldLayout {
    static constexpr std::int8_t Unknown = -1;
    std::vector<std::int8_t> Fields;
};

// The layout a "#Fields:" directive line declares; nothing for any other line.
std::optional<W3cFieldLayout> ParseW3cDirective(std::string_view line);

// What a parser needs to know of the server whose line it reads.
struct ParseOptions {
    // W3C only: bit i set means field i of the W3C field list is present.
    std::uint32_t W3cFields = 0;
    // W3C only: the layout of the log's last "#Fields:" directive. When set it governs the
    // lines instead of W3cFields; the caller keeps it per log.
    std::shared_ptr<const W3cFieldLayout> W3cLayout;
    // W3C only: hours added to the logged (UTC) time.
    std::int32_t TimeZone = 0;
    // Whether client (and W3C server) addresses are looked up by name.
    bool ResolveNames = false;
    // With ResolveNames: the names come from it, without waiting, rather than from a look-up
    // that waits for the network. The parse goes on without a name it does not have.
    NamePass* Names = nullptr;
    // With ResolveNames and no Names: the cache that looks names up, waiting for each answer.
    // None gives no names.
    NameCache* Cache = nullptr;
    // The lists that classify the access (IsDocument, IsSpider, IsBuddy); none leaves every
    // access unclassified.
    const ClassificationLists* Lists = nullptr;
    // Build the record as a draft of the calling thread (AccessRecord::DraftNcsa) that slices
    // the line instead of copying it; the caller places it before it parses again.
    bool Draft = false;
};

// A parsed line: the record, or none when the line does not parse, and the time stamp the
// line carried (none when it named no time the parser could read, so the caller keeps its own).
struct ParsedLine {
    std::unique_ptr<AccessRecord> Record;
    std::optional<DateTime> Time;
};

// The two log parsers. They classify the access by the options' document, spider and buddy
// lists (IsDocument, IsSpider, IsBuddy); the visitor state needs the queue and is left to the caller.
ParsedLine ParseNcsa(std::string_view line, const ParseOptions& options);
ParsedLine ParseW3c(std::string_view line, const ParseOptions& options);

// ParseNcsa's steps: the time stamp from tokens 3 and 4 (false: abandon the line) and the
// request from token 5 (false: fewer than two words).
bool ParseNcsaDate(AccessRecord& record, std::string_view token3, std::string_view token4,
                   std::optional<DateTime>& time);
bool ParseRequest(AccessRecord& record, std::string_view token5);
// ParseW3c's date and time step, time-zone correction included; false abandons the line.
bool ParseW3cDateTime(AccessRecord& record, std::string_view date, std::string_view time,
                      std::int32_t timeZone, std::optional<DateTime>& result);

} // namespace kavel
