#pragma once

#include <QPoint>
#include <QTableView>

namespace kavel::ui {

// A report-style list of the main window: rows of one height, whole-row selection, several
// rows selectable, never edited. Pressed is emitted after the press has selected.
class AccessTableView final : public QTableView {
    Q_OBJECT

public:
    explicit AccessTableView(QWidget* parent = nullptr);

Q_SIGNALS:
    void Pressed(Qt::MouseButton button, QPoint globalPosition);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace kavel::ui
