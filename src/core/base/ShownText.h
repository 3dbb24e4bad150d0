#pragma once

#include <string>
#include <string_view>

namespace kavel {

// Bytes taken from a log as the lists show them, in UTF-8: valid UTF-8 stays as it is, anything
// else is read as Windows-1252, and control characters become visible symbols (C0 controls as
// U+2400.., DEL as U+2421, C1 controls and the characters that reorder or break the text around
// them as U+FFFD). A log line can then never move a cursor, change colours, reverse the text
// beside it or break a line; the window, the exports and the quick filter all see these texts.

// The shown text: the bytes themselves when they need no change, else scratch filled with it.
std::string_view ShownText(std::string_view bytes, std::string& scratch);
// Appends the shown text of the bytes to out.
void AppendShownText(std::string& out, std::string_view bytes);
// The bytes as UTF-8 text as they were logged: valid UTF-8 as it is, anything else read as
// Windows-1252; control characters stay (for copying a line, not for showing it).
void AppendLoggedText(std::string& out, std::string_view bytes);
// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or truncated sequences).
bool IsWellFormedUtf8(std::string_view bytes);

} // namespace kavel
