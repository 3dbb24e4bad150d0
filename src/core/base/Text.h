#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// Token splitter of the parsers and the definition-file readers. Appends the tokens of text
// to list and returns how many it appended. Double quotes and apostrophes open quoted
// stretches in which separators do not split; quotes stay in the token; CR and LF end a
// token; empty tokens are dropped; white space is skipped before each token.
std::size_t ExtractStrings(std::string_view separators, std::string_view whiteSpace, std::string_view text,
                           std::vector<std::string>& list);
// The same split into views of text, for the hot paths; list is cleared first.
std::size_t ExtractStrings(std::string_view separators, std::string_view whiteSpace, std::string_view text,
                           std::vector<std::string_view>& list);
// The common case of one separator and no white space.
std::size_t ExtractStrings(char separator, std::string_view text, std::vector<std::string_view>& list);

// ASCII case folding: only a-z and A-Z are folded.
inline char AsciiUpper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char AsciiLower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string AsciiUpperCase(std::string_view text);
std::string AsciiLowerCase(std::string_view text);
// Compared ignoring ASCII case: <0, 0, >0 as bytes compare after folding a-z to A-Z.
int CompareAsciiIgnoreCase(std::string_view a, std::string_view b) noexcept;
bool EqualsAsciiIgnoreCaseSameSize(const char* a, const char* b, std::size_t size) noexcept;
// Most comparisons on the ingest path are between texts of different lengths: those end here.
inline bool EqualsAsciiIgnoreCase(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && EqualsAsciiIgnoreCaseSameSize(a.data(), b.data(), a.size());
}
bool EndsWithAsciiIgnoreCase(std::string_view text, std::string_view suffix) noexcept;

// Windows-1252 upper-casing (umlauts and accented letters included), byte for byte.
char Cp1252Upper(char c) noexcept;
std::string Cp1252UpperCase(std::string_view text);
// Compared ignoring case by the code page's rules: both texts upper-cased, then compared.
bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept;

// Hash of texts as they are, usable with string views in the standard containers (with
// std::equal_to<>) so that a look-up never copies the text.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Hash and equality of texts under a case folding (AsciiLower, Cp1252Upper), usable with
// string views in the standard containers so that a look-up never copies the text.
template <char (*Fold)(char) noexcept>
struct FoldedHash {
    using is_transparent = void;
    // Not noexcept: the standard containers then keep each node's hash, so a look-up
    // compares texts only on equal hashes and never hashes other nodes again.
    std::size_t operator()(std::string_view text) const {
        std::uint64_t hash = 14695981039346656037ull;
        for (const char c : text) {
            hash ^= static_cast<unsigned char>(Fold(c));
            hash *= 1099511628211ull;
        }
        return static_cast<std::size_t>(hash);
    }
};

template <char (*Fold)(char) noexcept>
struct FoldedEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (Fold(a[i]) != Fold(b[i]))
                return false;
        return true;
    }
};

// Decimal 32-bit signed integer as the system reads numbers: optional sign, digits only,
// nothing else, in range. Nothing for any other text.
std::optional<std::int32_t> ParseInt32(std::string_view text) noexcept;
// The same for 64-bit integers: byte counts and durations of large transfers.
std::optional<std::int64_t> ParseInt64(std::string_view text) noexcept;
// A definition-file Boolean: an integer (0 false, any other true) or True/False in any case.
std::optional<bool> ParseBoolean(std::string_view text) noexcept;

} // namespace kavel
