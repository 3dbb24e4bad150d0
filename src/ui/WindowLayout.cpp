#include "ui/WindowLayout.h"

#include "base/Text.h"

#include <charconv>

namespace kavel::ui {

std::string CaptionWithPrefix(std::string_view caption, std::string_view text) {
    constexpr std::string_view Separator = " - ";
    std::string result(text);
    const std::size_t pos = caption.find(Separator);
    if (pos == std::string_view::npos) {
        result += Separator;
        result += caption;
    } else {
        result += caption.substr(pos);
    }
    return result;
}

std::vector<int> ApplyColumnWidths(std::vector<int> widths, std::string_view text) {
    std::vector<std::string> parts;
    ExtractStrings(",", "", text, parts);
    for (std::size_t i = 0; i < parts.size() && i < widths.size(); ++i) {
        const auto width = ParseInt32(parts[i]);
        if (width && *width >= 0)
            widths[i] = *width;
    }
    return widths;
}

std::string ColumnWidthsText(const std::vector<int>& widths) {
    std::string text;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (i > 0)
            text += ',';
        text += std::to_string(widths[i]);
    }
    return text;
}

} // namespace kavel::ui
