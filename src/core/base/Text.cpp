#include "base/Text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace kavel {

namespace {

struct CharSet {
    std::array<bool, 256> Bits{};
    void Add(std::string_view chars) {
        for (char c : chars)
            Bits[static_cast<unsigned char>(c)] = true;
    }
    bool Has(char c) const { return Bits[static_cast<unsigned char>(c)]; }
};

template <class Emit>
std::size_t Split(const CharSet& stop, const CharSet& skip, std::string_view text, Emit emit) {
    std::size_t count = 0;
    const std::size_t n = text.size();
    std::size_t tail = 0;
    while (tail < n) {
        while (tail < n && skip.Has(text[tail]))
            ++tail;
        const std::size_t head = tail;
        char quote = 0;
        while (tail < n) {
            const char c = text[tail];
            if (quote != 0) {
                if (c == quote)
                    quote = 0;
                ++tail;
                continue;
            }
            if (c == '"' || c == '\'') {
                quote = c;
                ++tail;
                continue;
            }
            if (stop.Has(c))
                break;
            ++tail;
        }
        if (tail > head) {
            emit(text.substr(head, tail - head));
            ++count;
        }
        ++tail; // the character that ended the token
    }
    return count;
}

CharSet StopSet(std::string_view separators) {
    CharSet set;
    set.Add(separators);
    set.Add("\r\n");
    return set;
}

CharSet SkipSet(std::string_view whiteSpace) {
    CharSet set;
    set.Add(whiteSpace);
    set.Add("\r\n");
    return set;
}

} // namespace

std::size_t ExtractStrings(std::string_view separators, std::string_view whiteSpace, std::string_view text,
                           std::vector<std::string>& list) {
    return Split(StopSet(separators), SkipSet(whiteSpace), text,
                 [&list](std::string_view token) { list.emplace_back(token); });
}

std::size_t ExtractStrings(std::string_view separators, std::string_view whiteSpace, std::string_view text,
                           std::vector<std::string_view>& list) {
    list.clear();
    return Split(StopSet(separators), SkipSet(whiteSpace), text,
                 [&list](std::string_view token) { list.push_back(token); });
}

std::size_t ExtractStrings(char separator, std::string_view text, std::vector<std::string_view>& list) {
    list.clear();
    const std::size_t n = text.size();
    std::size_t tail = 0;
    while (tail < n) {
        while (tail < n && (text[tail] == '\r' || text[tail] == '\n'))
            ++tail;
        const std::size_t head = tail;
        while (tail < n) {
            const char c = text[tail];
            if (c == '"' || c == '\'') {
                const std::size_t close = text.find(c, tail + 1);
                tail = close == std::string_view::npos ? n : close + 1;
                continue;
            }
            if (c == separator || c == '\r' || c == '\n')
                break;
            ++tail;
        }
        if (tail > head)
            list.push_back(text.substr(head, tail - head));
        ++tail;
    }
    return list.size();
}

std::string AsciiUpperCase(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = AsciiUpper(c);
    return result;
}

std::string AsciiLowerCase(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = AsciiLower(c);
    return result;
}

int CompareAsciiIgnoreCase(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
        const auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

namespace {

// The eight bytes of word with a-z turned into A-Z; other bytes, those above 0x7F included,
// stay as they are.
std::uint64_t AsciiUpperWord(std::uint64_t word) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t high = 0x8080808080808080u;
    const std::uint64_t low7 = word & ~high;
    // The high bit of each byte: its low seven bits are at least 'a', then more than 'z'.
    const std::uint64_t atLeastA = low7 + ones * (0x80 - 'a');
    const std::uint64_t aboveZ = low7 + ones * (0x80 - 'z' - 1);
    const std::uint64_t lower = atLeastA & ~aboveZ & ~word & high;
    return word - (lower >> 2);
}

template <class Word>
bool WordsEqualIgnoringCase(const char* a, const char* b) noexcept {
    Word wa;
    Word wb;
    std::memcpy(&wa, a, sizeof wa);
    std::memcpy(&wb, b, sizeof wb);
    return wa == wb || AsciiUpperWord(wa) == AsciiUpperWord(wb);
}

} // namespace

bool EqualsAsciiIgnoreCaseSameSize(const char* a, const char* b, std::size_t size) noexcept {
    if (a == b)
        return true;
    if (size < 4) {
        for (std::size_t i = 0; i < size; ++i)
            if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
                return false;
        return true;
    }
    if (size < 8) {
        // Two words that overlap in the middle cover 4 to 7 bytes.
        return WordsEqualIgnoringCase<std::uint32_t>(a, b) &&
               WordsEqualIgnoringCase<std::uint32_t>(a + size - 4, b + size - 4);
    }
    for (std::size_t i = 0; i + 8 < size; i += 8)
        if (!WordsEqualIgnoringCase<std::uint64_t>(a + i, b + i))
            return false;
    // The last eight bytes, overlapping what was compared before.
    return WordsEqualIgnoringCase<std::uint64_t>(a + size - 8, b + size - 8);
}

bool EndsWithAsciiIgnoreCase(std::string_view text, std::string_view suffix) noexcept {
    return text.size() >= suffix.size() &&
           EqualsAsciiIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

namespace {

constexpr std::array<unsigned char, 256> MakeCp1252Upper() {
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
    for (int c = 'a'; c <= 'z'; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - 32);
    // Latin-1 letters: 0xE0-0xFE map to 0xC0-0xDE, except the division sign 0xF7.
    for (int c = 0xE0; c <= 0xFE; ++c)
        if (c != 0xF7)
            table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c - 32);
    table[0x9A] = 0x8A; // s caron
    table[0x9C] = 0x8C; // oe
    table[0x9E] = 0x8E; // z caron
    table[0xFF] = 0x9F; // y diaeresis
    return table;
}

constexpr auto Cp1252UpperTable = MakeCp1252Upper();

} // namespace

char Cp1252Upper(char c) noexcept {
    return static_cast<char>(Cp1252UpperTable[static_cast<unsigned char>(c)]);
}

std::string Cp1252UpperCase(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = Cp1252Upper(c);
    return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Cp1252Upper(a[i]) != Cp1252Upper(b[i]))
            return false;
    return true;
}

namespace {

template <class Integer>
std::optional<Integer> ParseDecimal(std::string_view text) noexcept {
    if (text.empty())
        return std::nullopt;
    std::size_t start = 0;
    if (text[0] == '+')
        start = 1;
    if (start == text.size())
        return std::nullopt;
    Integer value = 0;
    const char* begin = text.data() + start;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    if (start == 1 && text.size() > 1 && text[1] == '-')
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::int32_t> ParseInt32(std::string_view text) noexcept {
    return ParseDecimal<std::int32_t>(text);
}

std::optional<std::int64_t> ParseInt64(std::string_view text) noexcept {
    return ParseDecimal<std::int64_t>(text);
}

std::optional<bool> ParseBoolean(std::string_view text) noexcept {
    if (const auto number = ParseInt32(text))
        return *number != 0;
    if (EqualsAsciiIgnoreCase(text, "true"))
        return true;
    if (EqualsAsciiIgnoreCase(text, "false"))
        return false;
    return std::nullopt;
}

} // namespace kavel
