#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kavel::ui {

// Caption with the current server's name in front of the program name.
std::string CaptionWithPrefix(std::string_view caption, std::string_view text);

// Column widths as text: "100,250". ApplyColumnWidths returns the widths with every part of
// text that is a number of 0 or more applied at its position; other parts are ignored.
std::vector<int> ApplyColumnWidths(std::vector<int> widths, std::string_view text);
std::string ColumnWidthsText(const std::vector<int>& widths);

} // namespace kavel::ui
