#pragma once

#include <QList>
#include <QMetaObject>
#include <QPoint>
#include <QTableView>

namespace kavel::ui {

// A report-style list of the main window: rows of one height, whole-row selection, several
// rows selectable, never edited. Pressed is emitted after the press has selected.
//
// The list holds still while the user reads: as long as it shows the newest row and nothing
// is selected, rows that arrive above appear on screen as they come; once the user has
// scrolled away from the top or selected a row, rows that arrive above the rows on screen
// leave them where they are (the scroll position follows the inserted rows) and are counted
// as unseen until the view shows them. Home (Pos1) goes back to the newest row and follows
// again. This is the view's own bookkeeping; the models insert their rows as they always do.
class AccessTableView final : public QTableView {
    Q_OBJECT

public:
    explicit AccessTableView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;

    // Whether rows arriving above the rows on screen leave them in place now.
    bool HoldsStill() const;
    // Rows that arrived above the rows on screen while the view held still and are still above
    // the top of the view.
    int UnseenRows() const { return ShownUnseen_; }
    // Back to the newest row: the selection goes, the view shows the top and follows new rows.
    void ScrollToNewest();
    // Where a context menu asked for by the keyboard opens: below the current row, or at the
    // top of the list when no row is current or on screen (global coordinates).
    QPoint ContextMenuPosition() const;

Q_SIGNALS:
    void Pressed(Qt::MouseButton button, QPoint globalPosition);
    void UnseenRowsChanged(int rows);
    // ScrollToNewest ran (the bar, Home): the selection is gone.
    void ReturnedToNewest();
    // Shift+F10 or the menu key: the list's context menu, at ContextMenuPosition.
    void ContextMenuRequested(QPoint globalPosition);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The first row at least partly on screen, or -1 without rows.
    int TopRow() const;
    // The scroll position that keeps the rows on screen when count rows arrive above them.
    void ShiftBy(int rows);
    void UpdateUnseen();

    QList<QMetaObject::Connection> ModelConnections_;
    // Taken when rows are about to arrive or go: whether the view holds still, and its top row.
    bool Holding_ = false;
    int TopBefore_ = -1;
    int Unseen_ = 0;
    int ShownUnseen_ = 0;
};

} // namespace kavel::ui
