#include "base/ShownText.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kavel {
namespace {

constexpr char32_t Replacement = 0xFFFD;

// Windows-1252 at 0x80..0x9F; the five unassigned positions map to the replacement character.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

// Decodes strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no
// truncated sequence. Returns false at the first fault.
template <typename Sink>
bool DecodeUtf8(std::string_view bytes, Sink&& sink) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        std::size_t length = 0;
        char32_t point = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            sink(char32_t{lead});
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            point = lead & 0x1Fu;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            point = lead & 0x0Fu;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            point = lead & 0x07u;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        sink(point);
        i += length;
    }
    return true;
}

// Characters that would change how the surrounding text is laid out or read.
bool IsLayoutControl(char32_t point) {
    return (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069) || point == 0x2028 ||
           point == 0x2029 || point == 0x200E || point == 0x200F || point == 0x061C;
}

char32_t Visible(char32_t point) {
    if (point < 0x20)
        return 0x2400 + point;
    if (point == 0x7F)
        return 0x2421;
    if ((point >= 0x80 && point <= 0x9F) || IsLayoutControl(point))
        return Replacement;
    return point;
}

void AppendUtf8(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// Printable ASCII, by far the most common log text, is shown as it is. Eight bytes at a time:
// this runs over every cell a filter searches.
bool IsPrintableAscii(std::string_view bytes) {
    constexpr std::uint64_t Ones = 0x0101010101010101u;
    constexpr std::uint64_t High = 0x8080808080808080u;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        // A high bit of its own, one borrowed below 0x20, or one carried from 0x7F. A borrow or
        // carry that runs on into the next byte comes from a byte already found.
        if (((word | (word - 0x20 * Ones) | (word + Ones)) & High) != 0)
            return false;
    }
    for (const char c : bytes.substr(i)) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x20 || byte >= 0x7F)
            return false;
    }
    return true;
}

} // namespace

void AppendShownText(std::string& out, std::string_view bytes) {
    if (IsPrintableAscii(bytes)) {
        out.append(bytes);
        return;
    }
    const std::size_t start = out.size();
    if (DecodeUtf8(bytes, [&out](char32_t point) { AppendUtf8(out, Visible(point)); }))
        return;
    out.resize(start);
    for (const char byte : bytes) {
        const auto value = static_cast<std::uint8_t>(byte);
        const char32_t point =
            (value >= 0x80 && value <= 0x9F) ? Cp1252High[static_cast<std::size_t>(value - 0x80)] : value;
        AppendUtf8(out, Visible(point));
    }
}

void AppendLoggedText(std::string& out, std::string_view bytes) {
    if (IsWellFormedUtf8(bytes)) {
        out.append(bytes);
        return;
    }
    for (const char byte : bytes) {
        const auto value = static_cast<std::uint8_t>(byte);
        AppendUtf8(out, (value >= 0x80 && value <= 0x9F) ? Cp1252High[static_cast<std::size_t>(value - 0x80)]
                                                         : value);
    }
}

bool IsWellFormedUtf8(std::string_view bytes) {
    return DecodeUtf8(bytes, [](char32_t) {});
}

std::string_view ShownText(std::string_view bytes, std::string& scratch) {
    if (IsPrintableAscii(bytes))
        return bytes;
    scratch.clear();
    AppendShownText(scratch, bytes);
    return scratch;
}

} // namespace kavel
