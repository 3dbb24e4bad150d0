#include "ui/NewRowsBar.h"

#include "platform/LocaleFormat.h"
#include "ui/AccessTableView.h"

#include <QEvent>
#include <QStyle>

namespace kavel::ui {

NewRowsBar::NewRowsBar(AccessTableView* view)
    : QToolButton(view)
    , View_(view) {
    setObjectName(view->objectName() + QStringLiteral("NewRows"));
    setAccessibleName(QStringLiteral("Neue Zugriffe"));
    setAccessibleDescription(QStringLiteral("Zur neuesten Zeile der Liste (Pos1)"));
    setToolTip(QStringLiteral("Zur neuesten Zeile (Pos1)"));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    // The selection's colours stand out from the rows below; a palette, not a style sheet,
    // so that updating the count every notification stays cheap.
    QPalette colours = palette();
    colours.setColor(QPalette::Button, colours.color(QPalette::Highlight));
    colours.setColor(QPalette::ButtonText, colours.color(QPalette::HighlightedText));
    colours.setColor(QPalette::Window, colours.color(QPalette::Highlight));
    setPalette(colours);
    setAutoFillBackground(true);
    hide();
    connect(view, &AccessTableView::UnseenRowsChanged, this, [this](int rows) { ShowCount(rows); });
    connect(this, &QToolButton::clicked, this, [this] { View_->ScrollToNewest(); });
    view->installEventFilter(this);
}

QString NewRowsBar::Text(int rows) {
    return QString::fromStdString(platform::CurrentLocaleFormat().Thousands(rows)) +
           QStringLiteral(" neue Zugriffe");
}

void NewRowsBar::ShowCount(int rows) {
    if (rows <= 0) {
        hide();
        return;
    }
    setText(Text(rows));
    adjustSize();
    Place();
    show();
    raise();
}

void NewRowsBar::Place() {
    const QRect area = View_->viewport()->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + 3);
}

bool NewRowsBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == View_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        Place();
    return QToolButton::eventFilter(watched, event);
}

} // namespace kavel::ui
