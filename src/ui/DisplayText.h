#pragma once

#include <QString>
#include <string_view>

namespace kavel::ui {

// Turns bytes taken from a log into text that is safe to put in a widget: valid UTF-8 is
// shown as UTF-8, anything else as Windows-1252, and control characters become visible
// symbols (ESC shows as U+241B, C1 controls as U+FFFD), so a log line can never move the
// cursor, change colours or reorder the text around it.
QString DisplayText(std::string_view bytes);

// Tool tips decide by themselves whether a text is markup; this wraps plain text so that it
// always shows literally, with its line breaks kept.
QString ToolTipText(const QString& plain);

} // namespace kavel::ui
