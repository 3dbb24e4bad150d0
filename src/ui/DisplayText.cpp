#include "ui/DisplayText.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace kavel::ui {
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
        if (bytes.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
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

void AppendVisible(QString& out, char32_t point) {
    if (point < 0x20) {
        out.append(QChar(static_cast<char16_t>(0x2400 + point)));
    } else if (point == 0x7F) {
        out.append(QChar(static_cast<char16_t>(0x2421)));
    } else if ((point >= 0x80 && point <= 0x9F) || IsLayoutControl(point)) {
        out.append(QChar(static_cast<char16_t>(Replacement)));
    } else if (point > 0xFFFF) {
        const char32_t value = point - 0x10000;
        out.append(QChar(static_cast<char16_t>(0xD800 + (value >> 10))));
        out.append(QChar(static_cast<char16_t>(0xDC00 + (value & 0x3FF))));
    } else {
        out.append(QChar(static_cast<char16_t>(point)));
    }
}

} // namespace

QString DisplayText(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    if (DecodeUtf8(bytes, [&out](char32_t point) { AppendVisible(out, point); })) {
        return out;
    }
    out.clear();
    for (char byte : bytes) {
        const auto value = static_cast<std::uint8_t>(byte);
        const char32_t point =
            (value >= 0x80 && value <= 0x9F) ? Cp1252High[static_cast<std::size_t>(value - 0x80)] : value;
        AppendVisible(out, point);
    }
    return out;
}

QString ToolTipText(const QString& plain) {
    QString escaped = plain.toHtmlEscaped();
    escaped.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    // The <qt> tag makes Qt treat the text as markup every time, so the escaped characters are
    // shown as written; pre-wrap keeps runs of blanks.
    return QStringLiteral("<qt><p style=\"white-space:pre-wrap\">%1</p></qt>").arg(escaped);
}

} // namespace kavel::ui
