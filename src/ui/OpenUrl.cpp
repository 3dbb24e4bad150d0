#include "ui/OpenUrl.h"

#include "ui/DesktopOpener.h"
#include "ui/DisplayText.h"
#include "ui/MessageBox.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <cctype>
#include <string>

namespace kavel::ui {
namespace {

const QString WebPrefix = QStringLiteral("http://");

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Every byte that an address' path (or query) may not hold literally as "%XX". A "%" that
// starts an escape the browser sent stays; quotes and blanks never go through literally.
QString PercentEncoded(std::string_view bytes, bool query) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const auto u = static_cast<unsigned char>(c);
        const bool unreserved = std::isalnum(u) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
        bool literal = unreserved || c == '!' || c == '$' || c == '&' || c == '(' || c == ')' || c == '*' ||
                       c == '+' || c == ',' || c == ';' || c == '=' || c == ':' || c == '@' || c == '/' ||
                       (query && c == '?');
        if (c == '%')
            literal = i + 2 < bytes.size() && IsHexDigit(bytes[i + 1]) && IsHexDigit(bytes[i + 2]);
        if (literal && u < 0x80) {
            out += c;
        } else {
            out += '%';
            out += Hex[u >> 4];
            out += Hex[u & 0x0F];
        }
    }
    return QString::fromLatin1(out);
}

std::optional<int> PortNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 5)
        return std::nullopt;
    int port = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

// Addresses come from referring pages and requests in the log, that is from anyone on the
// net: only characters that an address may carry literally are accepted.
bool IsAllowedInAddress(QChar c) {
    const char16_t u = c.unicode();
    if (u <= 0x20 || (u >= 0x7F && u <= 0xA0)) {
        return false;
    }
    if (c.isSpace() || c.category() == QChar::Other_Format || c.isSurrogate() || u == 0xFFFD) {
        return false;
    }
    switch (u) {
    case u'"':
    case u'\'':
    case u'<':
    case u'>':
    case u'\\':
    case u'^':
    case u'`':
    case u'{':
    case u'|':
    case u'}':
        return false;
    default:
        return true;
    }
}

} // namespace

std::optional<QString> CompleteUrl(const QString& address) {
    if (address.isEmpty()) {
        return std::nullopt;
    }
    for (QChar c : address) {
        if (!IsAllowedInAddress(c)) {
            return std::nullopt;
        }
    }
    QString completed = address.startsWith(WebPrefix, Qt::CaseSensitive) ? address : WebPrefix + address;
    const QUrl url(completed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        return std::nullopt;
    }
    return completed;
}

std::optional<QUrl> ObjectUrl(std::string_view serverName, std::string_view page) {
    if (page.empty() || page.front() != '/')
        return std::nullopt;
    std::string_view host = serverName;
    std::optional<int> port;
    if (!host.empty() && host.front() == '[') {
        // An IPv6 address in brackets, perhaps with a port.
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        const std::string_view rest = host.substr(close + 1);
        host = host.substr(1, close - 1);
        if (!rest.empty()) {
            if (rest.front() != ':' || !(port = PortNumber(rest.substr(1))))
                return std::nullopt;
        }
    } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        if (!(port = PortNumber(host.substr(colon + 1))))
            return std::nullopt;
        host = host.substr(0, colon);
    }
    if (host.empty())
        return std::nullopt;
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(DisplayText(host), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    if (port)
        url.setPort(*port);
    const std::size_t question = page.find('?');
    url.setPath(PercentEncoded(page.substr(0, question), false), QUrl::StrictMode);
    if (question != std::string_view::npos)
        url.setQuery(PercentEncoded(page.substr(question + 1), true), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QUrl> RefererUrl(std::string_view referer) {
    // Control bytes would only become visible symbols on the way to text: refused as they are.
    for (const char c : referer) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return std::nullopt;
    }
    const QString text = DisplayText(referer);
    if (text.isEmpty())
        return std::nullopt;
    for (QChar c : text) {
        if (!IsAllowedInAddress(c))
            return std::nullopt;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    if (url.scheme() != QStringLiteral("http") && url.scheme() != QStringLiteral("https"))
        return std::nullopt;
    return url;
}

OpenUrlOutcome OpenAddress(QWidget* owner, const QUrl& url) {
    const QString text = QStringLiteral("Die Adresse \"%1\" konnte nicht geöffnet werden: Es wurde kein "
                                        "Programm gefunden, das Webseiten anzeigt.")
                             .arg(url.toDisplayString());
    // The desktop may find out only later that no browser is there.
    QPointer<QWidget> later(owner);
    if (DesktopOpener::Open(url, [later, text] { MessageBox::Error(later, text); }))
        return OpenUrlOutcome::Handed;
    MessageBox::Error(owner, text);
    return OpenUrlOutcome::NotOpened;
}

OpenUrlOutcome OpenUrl(QWidget* owner, const QString& address) {
    const std::optional<QString> completed = CompleteUrl(address);
    if (!completed) {
        MessageBox::Error(owner, QStringLiteral("Die Adresse \"%1\" kann nicht geöffnet werden, weil sie "
                                                "unzulässige Zeichen enthält oder unvollständig ist.")
                                     .arg(DisplayText(address.toStdString())));
        return OpenUrlOutcome::Refused;
    }
    return OpenAddress(owner, QUrl(*completed, QUrl::StrictMode));
}

} // namespace kavel::ui
