#include "base/TableExport.h"

#include "base/DefinitionFile.h"

#include <cstdint>

namespace kavel {
namespace {

bool NeedsQuotes(std::string_view text) {
    return text.find_first_of(",\"\r\n") != std::string_view::npos;
}

bool LooksLikeFormula(std::string_view text) {
    if (text.empty() || text == "-")
        return false;
    switch (text.front()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
        return true;
    default:
        return false;
    }
}

void AppendCsvField(std::string& out, std::string_view text) {
    const bool formula = LooksLikeFormula(text);
    if (!NeedsQuotes(text) && !formula) {
        out += text;
        return;
    }
    out += '"';
    if (formula)
        out += '\'';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void AppendTsvField(std::string& out, std::string_view text) {
    for (const char c : text)
        out += c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
}

// The length of the well-formed UTF-8 sequence at i, or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<std::uint8_t>(text[i + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char Digits[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto byte = static_cast<std::uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
            ++i;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += Digits[byte >> 4];
            out += Digits[byte & 0x0F];
            ++i;
        } else if (const std::size_t length = Utf8Length(text, i); length == 0) {
            out += "\\ufffd";
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    out += '"';
}

} // namespace

TableWriter::TableWriter(TableFormat format, std::vector<std::string> columns)
    : Format_(format)
    , Columns_(std::move(columns)) {}

void TableWriter::AppendStart(std::string& out) const {
    if (Format_ == TableFormat::JsonLines)
        return;
    const std::vector<std::string_view> header(Columns_.begin(), Columns_.end());
    AppendLine(out, header);
}

void TableWriter::AppendRow(std::string& out, std::span<const std::string_view> cells) const {
    if (Format_ != TableFormat::JsonLines) {
        AppendLine(out, cells);
        return;
    }
    out += '{';
    for (std::size_t i = 0; i < Columns_.size(); ++i) {
        if (i > 0)
            out += ',';
        AppendJsonString(out, Columns_[i]);
        out += ':';
        AppendJsonString(out, i < cells.size() ? cells[i] : std::string_view());
    }
    out += "}\n";
}

void TableWriter::AppendLine(std::string& out, std::span<const std::string_view> cells) const {
    for (std::size_t i = 0; i < Columns_.size(); ++i) {
        const std::string_view text = i < cells.size() ? cells[i] : std::string_view();
        if (Format_ == TableFormat::Csv) {
            if (i > 0)
                out += ',';
            AppendCsvField(out, text);
        } else {
            if (i > 0)
                out += '\t';
            AppendTsvField(out, text);
        }
    }
    out += Format_ == TableFormat::Csv ? "\r\n" : "\n";
}

void ExportTable(const std::filesystem::path& file, TableFormat format, std::vector<std::string> columns,
                 const std::function<bool(std::vector<std::string_view>& cells)>& nextRow) {
    const TableWriter writer(format, std::move(columns));
    WriteFileAtomically(file, [&](const FileSink& sink) {
        constexpr std::size_t Piece = 1u << 20;
        std::string buffer;
        buffer.reserve(Piece + 4096);
        writer.AppendStart(buffer);
        std::vector<std::string_view> cells;
        while (nextRow(cells)) {
            writer.AppendRow(buffer, cells);
            if (buffer.size() >= Piece) {
                sink(buffer);
                buffer.clear();
            }
        }
        sink(buffer);
    });
}

} // namespace kavel
