#include "config/IniFile.h"

#include "base/DefinitionFile.h"
#include "base/Text.h"

namespace kavel {

std::optional<std::int32_t> ParseProfileInteger(std::string_view text) noexcept {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * (hex ? 16u : 10u) + digit;
        if (value > limit)
            return std::nullopt;
    }
    const auto bits = static_cast<std::uint32_t>(value);
    return static_cast<std::int32_t>(negative ? 0u - bits : bits);
}

namespace {

struct Line {
    std::size_t Begin = 0; // first byte
    std::size_t End = 0;   // first byte of the line end (or of the text's end)
    std::size_t Next = 0;  // first byte of the next line
};

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
    LineKind Kind = LineKind::Other;
    std::string_view Name; // section name or key
    std::string_view Value;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Walks the lines of a text; CR, LF and CR LF end a line.
class LineWalker {
public:
    explicit LineWalker(std::string_view text)
        : Text_(text) {}
    bool Next(Line& line) {
        if (Pos_ >= Text_.size())
            return false;
        line.Begin = Pos_;
        std::size_t i = Text_.find_first_of("\r\n", Pos_);
        if (i == std::string_view::npos) {
            line.End = line.Next = Text_.size();
        } else {
            line.End = i;
            line.Next =
                i + (Text_[i] == '\r' && i + 1 < Text_.size() && Text_[i + 1] == '\n' ? std::size_t{2}
                                                                                      : std::size_t{1});
        }
        Pos_ = line.Next;
        return true;
    }

private:
    std::string_view Text_;
    std::size_t Pos_ = 0;
};

ParsedLine Parse(std::string_view content) {
    ParsedLine parsed;
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
        return parsed;
    if (trimmed.front() == '[') {
        const std::size_t close = trimmed.find(']');
        parsed.Kind = LineKind::Section;
        parsed.Name =
            Trim(trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return parsed;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos)
        return parsed;
    parsed.Kind = LineKind::Entry;
    parsed.Name = Trim(trimmed.substr(0, equals));
    parsed.Value = Trim(trimmed.substr(equals + 1));
    return parsed;
}

// Where a key was found or would go.
struct Location {
    bool SectionFound = false;
    bool KeyFound = false;
    Line KeyLine;       // when KeyFound
    Line LastInSection; // the section line or its last non-blank line, when SectionFound
    std::string_view Value;
};

Location Locate(std::string_view text, std::string_view section, std::string_view key) {
    Location where;
    LineWalker walker(text);
    Line line;
    bool inSection = false;
    while (walker.Next(line)) {
        std::string_view content = text.substr(line.Begin, line.End - line.Begin);
        // Editors that save UTF-8 may put a byte order mark in front of the first section.
        if (line.Begin == 0 && content.starts_with("\xEF\xBB\xBF"))
            content.remove_prefix(3);
        const ParsedLine parsed = Parse(content);
        if (parsed.Kind == LineKind::Section) {
            if (inSection)
                break;
            if (!where.SectionFound && EqualsAsciiIgnoreCase(parsed.Name, section)) {
                where.SectionFound = true;
                inSection = true;
                where.LastInSection = line;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!Trim(content).empty())
            where.LastInSection = line;
        if (parsed.Kind == LineKind::Entry && EqualsAsciiIgnoreCase(parsed.Name, key)) {
            where.KeyFound = true;
            where.KeyLine = line;
            where.Value = parsed.Value;
            break;
        }
    }
    return where;
}

std::string_view LineEndOf(std::string_view text) {
    const std::size_t i = text.find_first_of("\r\n");
    if (i == std::string_view::npos)
        return "\r\n";
    if (text[i] == '\n')
        return "\n";
    return i + 1 < text.size() && text[i + 1] == '\n' ? "\r\n" : "\r";
}

std::string OneLine(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c == '\r' || c == '\n')
            c = ' ';
    return result;
}

} // namespace

IniFile::IniFile(std::filesystem::path file)
    : File_(std::move(file)) {
    if (auto content = ReadFileContent(File_))
        Text_ = std::move(*content);
}

IniFile IniFile::FromText(std::string text) {
    IniFile ini;
    ini.Text_ = std::move(text);
    return ini;
}

bool IniFile::SectionExists(std::string_view section) const {
    return Locate(Text_, section, {}).SectionFound;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
    return Locate(Text_, section, key).KeyFound;
}

std::optional<std::string> IniFile::ReadString(std::string_view section, std::string_view key) const {
    const Location where = Locate(Text_, section, key);
    if (!where.KeyFound)
        return std::nullopt;
    return std::string(where.Value);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    auto value = ReadString(section, key);
    return value ? std::move(*value) : std::string(defaultValue);
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
    const Location where = Locate(Text_, section, key);
    if (!where.KeyFound)
        return defaultValue;
    return ParseProfileInteger(where.Value).value_or(defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string cleanSection = OneLine(section);
    const std::string cleanKey = OneLine(key);
    const std::string entry = cleanKey + "=" + OneLine(value);
    const Location where = Locate(Text_, cleanSection, cleanKey);
    if (where.KeyFound) {
        Text_.replace(where.KeyLine.Begin, where.KeyLine.End - where.KeyLine.Begin, entry);
        return;
    }
    const std::string lineEnd(LineEndOf(Text_));
    if (where.SectionFound) {
        const Line& after = where.LastInSection;
        std::string insert;
        if (after.End == after.Next) // the last line of the text, without a line end
            insert += lineEnd;
        insert += entry;
        insert += lineEnd;
        // A lone CR before a following LF would merge into one CR LF and swallow that line end.
        if (insert.back() == '\r' && after.Next < Text_.size() && Text_[after.Next] == '\n')
            insert += '\n';
        Text_.insert(after.Next, insert);
        return;
    }
    if (!Text_.empty()) {
        if (Text_.back() != '\r' && Text_.back() != '\n')
            Text_ += lineEnd;
        // The blank line between the old text and the new section; after a lone CR an LF would
        // only complete the previous line end.
        Text_ += Text_.back() == '\r' && lineEnd == "\n" ? std::string("\r\n") : lineEnd;
    }
    Text_ += "[" + cleanSection + "]" + lineEnd + entry + lineEnd;
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::UpdateFile() const {
    WriteFileAtomically(File_, Text_);
}

} // namespace kavel
