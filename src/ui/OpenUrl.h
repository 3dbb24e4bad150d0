#pragma once

#include <QString>
#include <QUrl>
#include <optional>
#include <string_view>

class QWidget;

namespace kavel::ui {

enum class OpenUrlOutcome {
    // Handed to the desktop, which took it; whether a browser really came up is not known.
    Handed,
    // The text is no address that may be opened; the user was told why.
    Refused,
    // Nothing on the desktop could open the address; the user was told so.
    NotOpened,
};

// The address that would be handed to the browser: exactly "http://" in front unless the
// text already starts with it (so "https://" and "HTTP://" get it as well, and nothing but
// the plain web scheme ever reaches the desktop). No value when the text is empty, holds
// blanks, quotes, control characters or other characters an address never holds literally,
// or does not make a valid address with a host.
std::optional<QString> CompleteUrl(const QString& address);

// The address of a page of a server ("Objekt öffnen"), built from its parts: the plain web
// scheme, the server's name as the host (a trailing ":<port>" is the port), the page as path
// and query. Bytes an address may not hold literally are percent-encoded, so nothing in the
// page can reach the host part. No value when the page does not begin with "/" or the name
// makes no host.
std::optional<QUrl> ObjectUrl(std::string_view serverName, std::string_view page);

// A referring page as the log names it ("Referenzseite öffnen"): only an http or https
// address with a host, taken as it is written; a text without a scheme is not completed.
std::optional<QUrl> RefererUrl(std::string_view referer);

// Hands an address to the desktop's browser; tells the user, in an error message box with
// the given owner, when nothing could open it.
OpenUrlOutcome OpenAddress(QWidget* owner, const QUrl& url);

// Opens the about box's web address: completed as above, then handed to the desktop. A
// refused address is reported in an error message box with the given owner.
OpenUrlOutcome OpenUrl(QWidget* owner, const QString& address);

} // namespace kavel::ui
