#include "ui/AccessTableView.h"

#include <QMouseEvent>

namespace kavel::ui {

AccessTableView::AccessTableView(QWidget* parent)
    : QTableView(parent) {}

void AccessTableView::mousePressEvent(QMouseEvent* event) {
    QTableView::mousePressEvent(event);
    Q_EMIT Pressed(event->button(), event->globalPosition().toPoint());
}

} // namespace kavel::ui
