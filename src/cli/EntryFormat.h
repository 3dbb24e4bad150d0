#pragma once

#include "parsing/SuspiciousRequests.h"
#include "platform/DateTime.h"

#include <string>
#include <string_view>

namespace kavel {

class LogEntry;

namespace cli {

// The output form of kavel-cli, which scripts read: keep it stable. One accepted entry is one
// line of tab-separated fields (see FormatEntryLine); a dropped line is DroppedLine.
inline constexpr std::string_view DroppedLine = "-";

// The bytes unchanged except backslash, tab, CR and LF, written as \\, \t, \r and \n, so that
// a field never holds a separator or a line end, and control bytes a terminal would act on
// (C0, DEL, C1 as a lone byte or UTF-8 encoded), written as \xhh: log lines are hostile.
std::string EscapeField(std::string_view bytes);
void AppendEscaped(std::string& out, std::string_view bytes);

// "YYYY-MM-DD HH:MM:SS" (milliseconds dropped).
std::string FormatEntryTime(DateTime time);

} // namespace cli

// The fields of an accepted entry, tab-separated, without line end: entry time, DateText,
// Address, HostName, Resolved, User, Method, Page, Status, Bytes, Protocol, Referer,
// UserAgent, IsDocument, VisitorState, IsSpider, IsBuddy, VisitorImage, StatusImage,
// BrowserImage, then the exception check's code, image and message; W3C records add
// ServerAddress, ServerHostName, SiteName, ComputerName, ServerPort, SubStatus, Win32Status,
// BytesReceived, TimeTaken and Cookie. Booleans are 0 or 1. An entry without an access gives
// DroppedLine.
std::string FormatEntryLine(const LogEntry& entry, const SuspicionCheck& check);

} // namespace kavel
