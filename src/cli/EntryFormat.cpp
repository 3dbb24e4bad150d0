#include "EntryFormat.h"

#include "acquisition/EntryQueue.h"
#include "parsing/AccessRecord.h"
#include "platform/DateTime.h"

#include <cstdio>

namespace kavel {

namespace cli {

namespace {

void AppendHex(std::string& out, unsigned char byte) {
    static constexpr char Digits[] = "0123456789abcdef";
    out += "\\x";
    out += Digits[byte >> 4];
    out += Digits[byte & 0x0f];
}

// The length of the well-formed UTF-8 sequence of two or more bytes at i, or 0.
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(bytes[i + k]);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xbf))
            return 0;
    }
    return length;
}

} // namespace

void AppendEscaped(std::string& out, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            out += "\\\\";
            continue;
        case '\t':
            out += "\\t";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\n':
            out += "\\n";
            continue;
        default:
            break;
        }
        if (byte < 0x20 || byte == 0x7f) {
            AppendHex(out, byte);
            continue;
        }
        if (byte < 0x80) {
            out += c;
            continue;
        }
        // Logs hold UTF-8 as well as Windows-1252. Well-formed UTF-8 passes unless it encodes a
        // C1 control; a lone byte 0x80-0x9f is one to a terminal that reads 8-bit controls.
        const std::size_t length = Utf8SequenceLength(bytes, i);
        if (length == 2 && byte == 0xc2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9f) {
            AppendHex(out, byte);
            AppendHex(out, static_cast<unsigned char>(bytes[i + 1]));
            ++i;
        } else if (length != 0) {
            out.append(bytes.substr(i, length));
            i += length - 1;
        } else if (byte <= 0x9f) {
            AppendHex(out, byte);
        } else {
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
