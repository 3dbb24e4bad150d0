#pragma once

#include "parsing/SuspiciousRequests.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace kavel {

class LogEntry;

namespace cli {

// The output form of kavel-cli, which scripts read: keep it stable. One accepted entry is one
// line of tab-separated fields (see FormatEntryLine); a dropped line is DroppedLine.
inline constexpr std::string_view DroppedLine = "-";

// The bytes unchanged except backslash, tab, CR and LF, written as \\, \t, \r and \n, so that
// a field never holds a separator or a line end, and control bytes a terminal would act on
// (C0, DEL, C1 as a lone byte or UTF-8 encoded) and the bytes of the explicit direction controls
// (U+061C, U+200E-U+200F, U+202A-U+202E, U+2066-U+2069, which reorder the text shown around
// them), written as \xhh: log lines are hostile.
std::string EscapeField(std::string_view bytes);
void AppendEscaped(std::string& out, std::string_view bytes);

// "YYYY-MM-DD HH:MM:SS" (milliseconds dropped).
std::string FormatEntryTime(DateTime time);

// The bytes as the contents of a JSON string (without quotes). Well-formed UTF-8 passes except
// controls; every control and every byte of an ill-formed sequence becomes \u00XX (the byte
// read as Latin-1), and a direction control \uXXXX, so any log line gives valid JSON and no
// byte is lost.
void AppendJsonString(std::string& out, std::string_view bytes);

// Builds one JSON object; keys are fixed ASCII, values escaped.
class JsonBuilder {
public:
    JsonBuilder() { Text_ = "{"; }
    void Text(std::string_view key, std::string_view value) {
        Key(key);
        Text_ += '"';
        AppendJsonString(Text_, value);
        Text_ += '"';
    }
    void Number(std::string_view key, std::int64_t value) {
        Key(key);
        Text_ += std::to_string(value);
    }
    void Flag(std::string_view key, bool value) {
        Key(key);
        Text_ += value ? "true" : "false";
    }
    void Raw(std::string_view key, std::string_view json) {
        Key(key);
        Text_ += json;
    }
    std::string Take() {
        Text_ += '}';
        return std::move(Text_);
    }

private:
    void Key(std::string_view key) {
        if (Text_.size() > 1)
            Text_ += ',';
        Text_ += '"';
        Text_ += key;
        Text_ += "\":";
    }
    std::string Text_;
};

// The bytes for a terminal: like EscapeField, but lone bytes of ill-formed UTF-8 become \xhh
// as well, so what a terminal shows is exactly what was counted for the column width.
std::string TerminalText(std::string_view bytes);
// One message line of the program's own, TerminalText of the whole text: what it quotes (server
// names, file names, log text, error texts) comes from outside.
void PrintMessage(std::FILE* stream, std::string_view text);
// Display columns of TerminalText's result (one per code point).
std::size_t TerminalWidth(std::string_view text);
// TerminalText cut or padded with spaces to exactly width columns; a cut ends in "~".
std::string TerminalColumn(std::string_view bytes, std::size_t width);

} // namespace cli

// The fields of an accepted entry, tab-separated, without line end: entry time, DateText,
// Address, HostName, Resolved, User, Method, Page, Status, Bytes, Protocol, Referer,
// UserAgent, IsDocument, VisitorState, IsSpider, IsBuddy, VisitorImage, StatusImage,
// BrowserImage, then the exception check's code, image and message; W3C records add
// ServerAddress, ServerHostName, SiteName, ComputerName, ServerPort, SubStatus, Win32Status,
// BytesReceived, TimeTaken and Cookie. Booleans are 0 or 1. An entry without an access gives
// DroppedLine.
std::string FormatEntryLine(const LogEntry& entry, const SuspicionCheck& check);

// One access as a JSON object without line end, for "watch --format json" (JSON Lines).
std::string FormatEntryJson(std::string_view server, const LogEntry& entry, const SuspicionCheck& check);

// One access as aligned columns for a person at a terminal: time, server, host, status, page;
// a suspicious request adds an indented line with its message, both in red when colour is on.
std::string FormatEntryColumns(std::string_view server, const LogEntry& entry, const SuspicionCheck& check,
                               bool colour);

} // namespace kavel
