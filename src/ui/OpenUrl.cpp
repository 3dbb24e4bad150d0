#include "ui/OpenUrl.h"

#include "ui/DesktopOpener.h"
#include "ui/DisplayText.h"
#include "ui/MessageBox.h"

#include <QUrl>

namespace kavel::ui {
namespace {

const QString WebPrefix = QStringLiteral("http://");

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

OpenUrlOutcome OpenUrl(QWidget* owner, const QString& address) {
    const std::optional<QString> completed = CompleteUrl(address);
    if (!completed) {
        MessageBox::Error(owner, QStringLiteral("Die Adresse \"%1\" kann nicht geöffnet werden, weil sie "
                                                "unzulässige Zeichen enthält oder unvollständig ist.")
                                     .arg(DisplayText(address.toStdString())));
        return OpenUrlOutcome::Refused;
    }
    DesktopOpener::Open(QUrl(*completed, QUrl::StrictMode));
    return OpenUrlOutcome::Handed;
}

} // namespace kavel::ui
