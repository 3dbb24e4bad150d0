#pragma once

#include <QToolButton>

namespace kavel::ui {

class AccessTableView;

// The small bar at the top of a list that holds still: "N neue Zugriffe" while rows arrived
// above the rows on screen; a click (or Home in the list) brings the list back to the newest
// row. It floats over the top of the list's rows, so showing it moves no row. Its object name
// is the list's followed by "NewRows" ("ListViewLogNewRows"); it never takes the focus.
class NewRowsBar final : public QToolButton {
public:
    explicit NewRowsBar(AccessTableView* view);

    // The text for a number of unseen rows.
    static QString Text(int rows);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowCount(int rows);
    void Place();

    AccessTableView* View_;
};

} // namespace kavel::ui
