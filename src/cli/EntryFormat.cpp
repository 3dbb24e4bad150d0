#include "EntryFormat.h"

#include "acquisition/EntryQueue.h"
#include "parsing/AccessRecord.h"
#include "platform/DateTime.h"

#include <cstdio>

namespace kavel {

namespace cli {

void AppendEscaped(std::string& out, std::string_view bytes) {
    for (const char c : bytes) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
}

std::string EscapeField(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    AppendEscaped(out, bytes);
    return out;
}

std::string FormatEntryTime(DateTime time) {
    const DateParts parts = DecodeDateTime(time);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.Year, parts.Month, parts.Day,
                  parts.Hour, parts.Minute, parts.Second);
    return text;
}

} // namespace cli

namespace {

class LineBuilder {
public:
    void Text(std::string_view bytes) {
        Separate();
        cli::AppendEscaped(Line_, bytes);
    }
    void Number(std::int64_t value) {
        Separate();
        Line_ += std::to_string(value);
    }
    void Flag(bool value) {
        Separate();
        Line_ += value ? '1' : '0';
    }
    std::string Take() { return std::move(Line_); }

private:
    void Separate() {
        if (!First_) {
            Line_ += '\t';
        }
        First_ = false;
    }
    std::string Line_;
    bool First_ = true;
};

} // namespace

std::string FormatEntryLine(const LogEntry& entry, const SuspicionCheck& check) {
    const AccessRecord* access = entry.Access.get();
    if (access == nullptr) {
        return std::string(cli::DroppedLine);
    }
    LineBuilder line;
    line.Text(cli::FormatEntryTime(entry.Time));
    line.Text(access->DateText());
    line.Text(access->Address());
    line.Text(access->HostName());
    line.Flag(access->Resolved());
    line.Text(access->User());
    line.Text(access->Method());
    line.Text(access->Page());
    line.Number(access->Status);
    line.Number(access->Bytes);
    line.Text(access->Protocol());
    line.Text(access->Referer());
    line.Text(access->UserAgent());
    line.Flag(access->IsDocument);
    line.Number(static_cast<int>(access->VisitorState));
    line.Flag(access->IsSpider);
    line.Flag(access->IsBuddy);
    line.Number(IconIndex(access->VisitorImage()));
    line.Number(IconIndex(access->StatusImage()));
    line.Number(IconIndex(access->BrowserImage()));
    line.Number(check.Code);
    line.Number(IconIndex(check.Image));
    line.Text(check.Message);
    if (access->Kind() == LogFormat::W3c) {
        const auto& w3c = static_cast<const W3cRecord&>(*access);
        line.Text(w3c.ServerAddress());
        line.Text(w3c.ServerHostName());
        line.Text(w3c.SiteName());
        line.Text(w3c.ComputerName());
        line.Number(w3c.ServerPort);
        line.Number(w3c.SubStatus);
        line.Number(w3c.Win32Status);
        line.Number(w3c.BytesReceived);
        line.Number(w3c.TimeTaken);
        line.Text(w3c.Cookie());
    }
    return line.Take();
}

} // namespace kavel
