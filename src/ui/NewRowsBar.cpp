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
    setAutoFillBackground(true);
    setStyleSheet(
        QStringLiteral("QToolButton { background: palette(highlight); color: palette(highlighted-text);"
                       " border: 1px solid palette(dark); border-radius: 4px; padding: 1px 8px; }"));
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
