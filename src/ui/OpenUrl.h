#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace kavel::ui {

enum class OpenUrlOutcome {
    // Handed to the desktop; whether a browser really came up is not known.
    Handed,
    // The text is no address that may be opened; the user was told why.
    Refused,
};

// The address that would be handed to the browser: exactly "http://" in front unless the
// text already starts with it (so "https://" and "HTTP://" get it as well, and nothing but
// the plain web scheme ever reaches the desktop). No value when the text is empty, holds
// blanks, quotes, control characters or other characters an address never holds literally,
// or does not make a valid address with a host.
std::optional<QString> CompleteUrl(const QString& address);

// Opens a page from the lists or the about box in the desktop's browser. A refused address
// is reported in an error message box with the given owner.
OpenUrlOutcome OpenUrl(QWidget* owner, const QString& address);

} // namespace kavel::ui
