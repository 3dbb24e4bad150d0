#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kavel {

// An integer as profile files hold it: an optional sign, then decimal digits, or "0x" or "$"
// followed by hexadecimal digits (up to 32 bits, taken as their two's complement). Nothing for
// any other text, so the caller's default applies.
std::optional<std::int32_t> ParseProfileInteger(std::string_view text) noexcept;

// An INI profile in memory, read and changed the way Windows profile files behave: sections
// "[name]" and "key=value" lines, section and key matched ignoring ASCII case, the first
// matching section and key winning, blanks and tabs around names and values ignored, lines
// starting with ";" or "#" and lines without "=" never matching. Writing a key changes only
// that key's line (or adds one), so comments, other sections and unknown keys stay byte for
// byte. Any bytes are accepted; the text is never rejected.
class IniFile {
public:
    IniFile() = default;
    // Reads the file; a missing file is an empty profile. Throws std::system_error when the
    // file exists but cannot be read.
    explicit IniFile(std::filesystem::path file);
    static IniFile FromText(std::string text);

    const std::filesystem::path& FileName() const { return File_; }
    const std::string& Text() const { return Text_; }

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // The value as text, without the blanks and tabs around it; nothing when missing.
    std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // The default when the key is missing or its value is not a number.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const;
    // Read as an integer, non-zero meaning true.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Sets the key's line to "key=value", adding the key (and the section) when missing. CR and
    // LF in any of the texts are written as blanks: they would otherwise start new lines.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    // "1" or "0".
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // Replaces the file with the text through WriteFileAtomically. Throws std::system_error.
    void UpdateFile() const;

private:
    std::filesystem::path File_;
    std::string Text_;
};

} // namespace kavel
