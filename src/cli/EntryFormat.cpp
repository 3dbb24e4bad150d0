#include "EntryFormat.h"

#include "ImageNumbers.h"
#include "acquisition/EntryQueue.h"
#include "base/LineBlocks.h"
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

// Whether the well-formed sequence of length bytes at i encodes an explicit direction control:
// ALM U+061C, LRM and RLM U+200E-U+200F, the embeddings and overrides U+202A-U+202E and the
// isolates U+2066-U+2069. Shown raw they reorder what a terminal shows around them.
bool IsBidiControl(std::string_view bytes, std::size_t i, std::size_t length) {
    const auto at = [&bytes, i](std::size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
    if (length == 2)
        return at(0) == 0xd8 && at(1) == 0x9c;
    if (length != 3 || at(0) != 0xe2)
        return false;
    if (at(1) == 0x80)
        return at(2) == 0x8e || at(2) == 0x8f || (at(2) >= 0xaa && at(2) <= 0xae);
    return at(1) == 0x81 && at(2) >= 0xa6 && at(2) <= 0xa9;
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
        } else if (length != 0 && IsBidiControl(bytes, i, length)) {
            for (std::size_t k = 0; k < length; ++k)
                AppendHex(out, static_cast<unsigned char>(bytes[i + k]));
            i += length - 1;
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

void AppendJsonString(std::string& out, std::string_view bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    const auto appendCode = [&out](unsigned char byte) {
        out += "\\u00";
        out += Digits[byte >> 4];
        out += Digits[byte & 0x0f];
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            appendCode(byte);
        } else if (byte < 0x80) {
            out += c;
        } else if (const std::size_t length = Utf8SequenceLength(bytes, i); length == 0) {
            appendCode(byte);
        } else if (length == 2 && byte == 0xc2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9f) {
            // A C1 control encoded as UTF-8: the same code point, escaped.
            appendCode(static_cast<unsigned char>(bytes[i + 1]));
            ++i;
        } else if (IsBidiControl(bytes, i, length)) {
            // The same code point, escaped: a reader of the JSON gets it back unchanged.
            const auto at = [&bytes, i](std::size_t k) {
                return static_cast<unsigned>(bytes[i + k]) & 0xffu;
            };
            const unsigned code = length == 2
                                      ? ((at(0) & 0x1fu) << 6) | (at(1) & 0x3fu)
                                      : ((at(0) & 0x0fu) << 12) | ((at(1) & 0x3fu) << 6) | (at(2) & 0x3fu);
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += Digits[(code >> shift) & 0x0fu];
            i += length - 1;
        } else {
            out.append(bytes.substr(i, length));
            i += length - 1;
        }
    }
}

std::string TerminalText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80)
            continue;
        const std::size_t length = Utf8SequenceLength(bytes, i);
        if (length != 0) {
            i += length - 1;
            continue;
        }
        AppendEscaped(out, bytes.substr(start, i - start));
        AppendHex(out, byte);
        start = i + 1;
    }
    AppendEscaped(out, bytes.substr(start));
    return out;
}

void PrintMessage(std::FILE* stream, std::string_view text) {
    std::string line = TerminalText(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream);
}

std::size_t TerminalWidth(std::string_view text) {
    std::size_t width = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xc0) != 0x80)
            ++width;
    return width;
}

std::string TerminalColumn(std::string_view bytes, std::size_t width) {
    std::string text = TerminalText(bytes);
    std::size_t columns = TerminalWidth(text);
    if (columns > width) {
        // Cut at a code point boundary so the column never ends in half a character.
        std::size_t seen = 0;
        std::size_t cut = 0;
        for (; cut < text.size(); ++cut) {
            if ((static_cast<unsigned char>(text[cut]) & 0xc0) != 0x80) {
                if (seen + 1 == width)
                    break;
                ++seen;
            }
        }
        text.resize(cut);
        text += '~';
        columns = width;
    }
    text.append(width - columns, ' ');
    return text;
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

std::string_view VisitorName(VisitorKind kind) {
    switch (kind) {
    case VisitorKind::New:
        return "new";
    case VisitorKind::Known:
        return "known";
    case VisitorKind::Revisitor:
        return "revisitor";
    }
    return "new";
}

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
    const LinePin pin(entry);
    const AccessRecord* access = entry.Access();
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
    line.Number(cli::ImageNumber(access->Visitor()));
    line.Number(cli::StatusImageNumber(access->HasErrorStatus()));
    line.Number(cli::ImageNumber(access->Browser()));
    line.Number(check.Code);
    line.Number(cli::ImageNumber(check.Kind));
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

std::string FormatEntryJson(std::string_view server, const LogEntry& entry, const SuspicionCheck& check) {
    const LinePin pin(entry);
    cli::JsonBuilder json;
    json.Text("server", server);
    json.Text("time", cli::FormatEntryTime(entry.Time));
    const AccessRecord* access = entry.Access();
    if (access == nullptr) {
        json.Flag("dropped", true);
        return json.Take();
    }
    json.Text("date", access->DateText());
    json.Text("address", access->Address());
    json.Text("host", access->HostName());
    json.Flag("resolved", access->Resolved());
    json.Text("user", access->User());
    json.Text("method", access->Method());
    json.Text("page", access->Page());
    json.Number("status", access->Status);
    json.Number("bytes", access->Bytes);
    json.Text("protocol", access->Protocol());
    json.Text("referer", access->Referer());
    json.Text("user_agent", access->UserAgent());
    json.Flag("document", access->IsDocument);
    json.Text("visitor", VisitorName(access->VisitorState));
    json.Flag("spider", access->IsSpider);
    json.Flag("buddy", access->IsBuddy);
    if (check.Code != -1) {
        cli::JsonBuilder suspicion;
        suspicion.Number("code", check.Code);
        suspicion.Text("message", check.Message);
        json.Raw("suspicion", suspicion.Take());
    } else {
        json.Raw("suspicion", "null");
    }
    if (access->Kind() == LogFormat::W3c) {
        const auto& w3c = static_cast<const W3cRecord&>(*access);
        json.Text("server_address", w3c.ServerAddress());
        json.Text("server_host", w3c.ServerHostName());
        json.Text("site", w3c.SiteName());
        json.Text("computer", w3c.ComputerName());
        json.Number("server_port", w3c.ServerPort);
        json.Number("sub_status", w3c.SubStatus);
        json.Number("win32_status", w3c.Win32Status);
        json.Number("bytes_received", w3c.BytesReceived);
        json.Number("time_taken", w3c.TimeTaken);
        json.Text("cookie", w3c.Cookie());
    }
    return json.Take();
}

std::string FormatEntryColumns(std::string_view server, const LogEntry& entry, const SuspicionCheck& check,
                               bool colour) {
    static constexpr std::string_view Red = "\x1b[31m";
    static constexpr std::string_view Reset = "\x1b[0m";
    const LinePin pin(entry);
    const AccessRecord* access = entry.Access();
    std::string line = cli::FormatEntryTime(entry.Time);
    line += "  ";
    line += cli::TerminalColumn(server, 12);
    line += "  ";
    if (access == nullptr) {
        line += cli::TerminalText(cli::DroppedLine);
        return line;
    }
    line += cli::TerminalColumn(access->HostName().empty() ? access->Address() : access->HostName(), 28);
    line += "  ";
    line += cli::TerminalColumn(std::to_string(access->Status), 3);
    line += "  ";
    line += cli::TerminalText(access->Page());
    if (check.Code == -1)
        return line;
    std::string out;
    if (colour)
        out += Red;
    out += line;
    out += "\n    ! ";
    out += cli::TerminalText(check.Message);
    if (colour)
        out += Reset;
    return out;
}

} // namespace kavel
