#include "ui/AccessTableView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

namespace kavel::ui {

AccessTableView::AccessTableView(QWidget* parent)
    : QTableView(parent) {
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { UpdateUnseen(); });
}

void AccessTableView::setModel(QAbstractItemModel* model) {
    for (const QMetaObject::Connection& connection : ModelConnections_)
        disconnect(connection);
    ModelConnections_.clear();
    QTableView::setModel(model);
    Unseen_ = 0;
    UpdateUnseen();
    if (model == nullptr)
        return;
    // Connected after the view and its headers took the model: when these run, the headers
    // already know the new rows.
    ModelConnections_ = {
        connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
                [this] {
                    Holding_ = HoldsStill();
                    TopBefore_ = TopRow();
                }),
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex& parent, int first, int last) {
                    if (parent.isValid())
                        return;
                    const int count = last - first + 1;
                    // A row that takes the place of the top row pushes the rows on screen down.
                    if (Holding_ && TopBefore_ >= 0 && first <= TopBefore_) {
                        ShiftBy(count);
                        Unseen_ += count;
                    }
                    UpdateUnseen();
                }),
        connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                [this] {
                    Holding_ = HoldsStill();
                    TopBefore_ = TopRow();
                }),
        connect(model, &QAbstractItemModel::rowsRemoved, this,
                [this](const QModelIndex& parent, int first, int last) {
                    if (parent.isValid())
                        return;
                    // Rows that leave from above the rows on screen would pull them up.
                    if (Holding_ && TopBefore_ > first)
                        ShiftBy(-(std::min(last, TopBefore_ - 1) - first + 1));
                    UpdateUnseen();
                }),
        connect(model, &QAbstractItemModel::modelReset, this,
                [this] {
                    Unseen_ = 0;
                    UpdateUnseen();
                }),
    };
}

bool AccessTableView::HoldsStill() const {
    const QScrollBar* bar = verticalScrollBar();
    return bar->value() > bar->minimum() || (selectionModel() != nullptr && selectionModel()->hasSelection());
}

int AccessTableView::TopRow() const {
    if (model() == nullptr || model()->rowCount() == 0)
        return -1;
    return rowAt(0);
}

void AccessTableView::ShiftBy(int rows) {
    if (rows == 0)
        return;
    QScrollBar* bar = verticalScrollBar();
    const int step = verticalScrollMode() == QAbstractItemView::ScrollPerItem
                         ? rows
                         : rows * verticalHeader()->defaultSectionSize();
    // The view lays its rows out again only later; until then the bar's range is the old one.
    if (step > 0)
        bar->setMaximum(bar->maximum() + step);
    bar->setValue(bar->value() + step);
}

void AccessTableView::UpdateUnseen() {
    const QScrollBar* bar = verticalScrollBar();
    const int above = std::max(TopRow(), 0);
    if (bar->value() <= bar->minimum() || above == 0)
        Unseen_ = 0;
    const int shown = std::min(Unseen_, above);
    if (shown == ShownUnseen_)
        return;
    ShownUnseen_ = shown;
    Q_EMIT UnseenRowsChanged(shown);
}

void AccessTableView::ScrollToNewest() {
    if (selectionModel() != nullptr)
        selectionModel()->clear();
    Unseen_ = 0;
    scrollToTop();
    UpdateUnseen();
    Q_EMIT ReturnedToNewest();
}

QPoint AccessTableView::ContextMenuPosition() const {
    QModelIndex index = currentIndex();
    if (!index.isValid() && selectionModel() != nullptr && !selectionModel()->selectedRows().isEmpty())
        index = selectionModel()->selectedRows().front();
    QRect cell = index.isValid() ? visualRect(index) : QRect();
    if (!cell.isValid() || !viewport()->rect().intersects(cell))
        return viewport()->mapToGlobal(QPoint(0, 0));
    const int x = std::clamp(cell.left(), 0, std::max(viewport()->width() - 1, 0));
    return viewport()->mapToGlobal(QPoint(x, cell.bottom()));
}

void AccessTableView::mousePressEvent(QMouseEvent* event) {
    QTableView::mousePressEvent(event);
    Q_EMIT Pressed(event->button(), event->globalPosition().toPoint());
}

void AccessTableView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Home && (modifiers == Qt::NoModifier || modifiers == Qt::ControlModifier)) {
        ScrollToNewest();
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier) ||
        (event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier)) {
        Q_EMIT ContextMenuRequested(ContextMenuPosition());
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void AccessTableView::contextMenuEvent(QContextMenuEvent* event) {
    // A right click already opened the menu with its press; the keyboard asks here. Accepted
    // either way, so the request never reaches the main window (its tool bar menu).
    if (event->reason() == QContextMenuEvent::Keyboard)
        Q_EMIT ContextMenuRequested(ContextMenuPosition());
    event->accept();
}

} // namespace kavel::ui
