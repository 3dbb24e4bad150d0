#include "base/TableExport.h"

#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavel {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;
using Table = std::vector<std::vector<std::string>>;

// Reads RFC 4180 text: quoted fields may hold commas, quotes (doubled) and line breaks;
// records end in CR LF.
std::optional<Table> ReadCsv(std::string_view text) {
    Table rows;
    std::vector<std::string> row;
    std::string field;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '"') {
            for (++i;; ++i) {
                if (i >= text.size())
                    return std::nullopt;
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i];
            }
        }
        while (i < text.size() && text[i] != ',' && text[i] != '\r') {
            if (text[i] == '"' || text[i] == '\n')
                return std::nullopt;
            field += text[i++];
        }
        if (i >= text.size())
            return std::nullopt;
        row.push_back(std::move(field));
        field.clear();
        if (text[i] == ',') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || text[i + 1] != '\n')
            return std::nullopt;
        i += 2;
        rows.push_back(std::move(row));
        row.clear();
    }
    return rows;
}

// Reads one JSON Lines object whose values are all strings, checking the JSON and its UTF-8.
std::optional<std::vector<std::pair<std::string, std::string>>> ReadJsonObject(std::string_view line) {
    std::size_t i = 0;
    const auto readString = [&](std::string& out) {
        if (i >= line.size() || line[i] != '"')
            return false;
        for (++i; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (c == '"') {
                ++i;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (++i >= line.size())
                return false;
            switch (line[i]) {
            case '"':
            case '\\':
            case '/':
                out += line[i];
                break;
            case 'u': {
                if (i + 4 >= line.size())
                    return false;
                const unsigned code =
                    static_cast<unsigned>(std::stoul(std::string(line.substr(i + 1, 4)), nullptr, 16));
                if (code >= 0x800) {
                    out += static_cast<char>(0xE0 | (code >> 12));
                    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                } else if (code >= 0x80) {
                    out += static_cast<char>(0xC0 | (code >> 6));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                } else {
                    out += static_cast<char>(code);
                }
                i += 4;
                break;
            }
            default:
                return false;
            }
        }
        return false;
    };
    std::vector<std::pair<std::string, std::string>> members;
    if (line.empty() || line[i++] != '{')
        return std::nullopt;
    while (i < line.size() && line[i] != '}') {
        if (!members.empty() && line[i++] != ',')
            return std::nullopt;
        std::pair<std::string, std::string> member;
        if (!readString(member.first) || i >= line.size() || line[i++] != ':' || !readString(member.second))
            return std::nullopt;
        members.push_back(std::move(member));
    }
    if (i + 1 != line.size())
        return std::nullopt;
    return members;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

const std::vector<std::string> Columns = {"Seite", "User Agent"};

// Texts that need every rule of the formats.
const Table Rows = {
    {"/a,b.html", "Mozilla \"quoted\""},
    {"line\r\nbreak", "tab\there"},
    {"Gr\xC3\xBC\xC3\x9F"
     "e \xE2\x90\x9B",
     ""},
    {"-", "=HYPERLINK(\"http://x\")"},
    {"+1", "@SUM(A1)"},
    {"-2+3", "only"},
};

void Export(const std::filesystem::path& file, TableFormat format, const Table& rows) {
    std::size_t next = 0;
    ExportTable(file, format, Columns, [&](std::vector<std::string_view>& cells) {
        if (next == rows.size())
            return false;
        cells.assign(rows[next].begin(), rows[next].end());
        ++next;
        return true;
    });
}

TEST(TableExport, CsvReadsBackAsWritten) {
    TempFolder folder;
    Export(folder / "list.csv", TableFormat::Csv, Rows);
    const std::string text = ReadBytes(folder / "list.csv");
    EXPECT_TRUE(IsValidUtf8(text));
    const auto table = ReadCsv(text);
    ASSERT_TRUE(table) << text;
    ASSERT_EQ(table->size(), Rows.size() + 1);
    EXPECT_EQ((*table)[0], Columns);
    // A field a spreadsheet would run as a formula gets an apostrophe; a lone dash does not.
    const Table expected = {
        Rows[0],           Rows[1], Rows[2], {"-", "'=HYPERLINK(\"http://x\")"}, {"'+1", "'@SUM(A1)"},
        {"'-2+3", "only"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ((*table)[i + 1], expected[i]) << i;
}

TEST(TableExport, JsonLinesAreValidLineByLine) {
    TempFolder folder;
    Table rows = Rows;
    // Ill-formed UTF-8 and a control character still give valid JSON.
    rows.push_back({"\xE4\x01", "\xF0\x9F\x98\x80"});
    Export(folder / "list.jsonl", TableFormat::JsonLines, rows);
    const std::string text = ReadBytes(folder / "list.jsonl");
    EXPECT_TRUE(IsValidUtf8(text));
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "last line without end";
        lines.push_back(std::string_view(text).substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto object = ReadJsonObject(lines[i]);
        ASSERT_TRUE(object) << lines[i];
        ASSERT_EQ(object->size(), Columns.size());
        EXPECT_EQ((*object)[0].first, "Seite");
        EXPECT_EQ((*object)[1].first, "User Agent");
        if (i + 1 < rows.size()) {
            EXPECT_EQ((*object)[0].second, rows[i][0]);
            EXPECT_EQ((*object)[1].second, rows[i][1]);
        }
    }
    const auto last = ReadJsonObject(lines.back());
    EXPECT_EQ((*last)[0].second, "\xEF\xBF\xBD\x01");
    EXPECT_EQ((*last)[1].second, "\xF0\x9F\x98\x80");
}

TEST(TableExport, TsvKeepsEachRowOnOneLine) {
    const TableWriter writer(TableFormat::Tsv, Columns);
    std::string text;
    writer.AppendStart(text);
    for (const auto& row : Rows) {
        const std::vector<std::string_view> cells(row.begin(), row.end());
        writer.AppendRow(text, cells);
    }
    EXPECT_EQ(text, "Seite\tUser Agent\n"
                    "/a,b.html\tMozilla \"quoted\"\n"
                    "line  break\ttab here\n"
                    "Gr\xC3\xBC\xC3\x9F"
                    "e \xE2\x90\x9B\t\n"
                    "-\t=HYPERLINK(\"http://x\")\n"
                    "+1\t@SUM(A1)\n"
                    "-2+3\tonly\n");
}

TEST(TableExport, MissingCellsAreEmptyAndExtraCellsIgnored) {
    const TableWriter writer(TableFormat::Csv, Columns);
    std::string text;
    const std::vector<std::string_view> one = {"a"};
    const std::vector<std::string_view> three = {"a", "b", "c"};
    writer.AppendRow(text, one);
    writer.AppendRow(text, three);
    EXPECT_EQ(text, "a,\r\na,b\r\n");
}

TEST(TableExport, AFailedExportLeavesTheOldFile) {
    TempFolder folder;
    WriteBytes(folder / "list.csv", "old");
    std::size_t rows = 0;
    EXPECT_THROW(ExportTable(folder / "list.csv", TableFormat::Csv, Columns,
                             [&](std::vector<std::string_view>& cells) -> bool {
                                 if (++rows > 3)
                                     throw std::runtime_error("cancelled");
                                 cells = {"x", "y"};
                                 return true;
                             }),
                 std::runtime_error);
    EXPECT_EQ(ReadBytes(folder / "list.csv"), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
    // A folder that cannot be written into reports it.
    EXPECT_THROW(Export(folder / "missing" / "list.csv", TableFormat::Csv, Rows), std::system_error);
}

TEST(TableExport, ALargeTableIsWrittenWhole) {
    TempFolder folder;
    const std::size_t count = 40000;
    std::size_t next = 0;
    const std::string page(60, 'p');
    ExportTable(folder / "big.csv", TableFormat::Csv, Columns, [&](std::vector<std::string_view>& cells) {
        if (next == count)
            return false;
        ++next;
        cells = {page, "agent"};
        return true;
    });
    const std::string text = ReadBytes(folder / "big.csv");
    EXPECT_EQ(text.size(), std::string("Seite,User Agent\r\n").size() + count * (page.size() + 8));
}

} // namespace
} // namespace kavel
