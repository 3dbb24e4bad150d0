#include "ui/DisplayText.h"

#include "base/ShownText.h"

#include <string>

namespace kavel::ui {

QString DisplayText(std::string_view bytes) {
    std::string scratch;
    const std::string_view shown = ShownText(bytes, scratch);
    return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
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
