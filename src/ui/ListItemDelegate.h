#pragma once

#include <QColor>
#include <QStyledItemDelegate>
#include <cstdint>
#include <utility>
#include <vector>

class QPalette;

namespace kavel::ui {

class ListFilterModel;

// What the colour of a row says; the values of RowOutcome in the core (acquisition/EntryCells.h),
// given by the lists' models as OutcomeRole.
enum class RowColour : std::uint8_t { Ordinary, Redirection, Suspicious, ClientError, ServerError };

// The background of a row of that outcome in this palette: a quiet tint of the palette's base
// colour in the outcome's hue, as light or as dark as the base, so that the palette's text reads
// on it in a light and in a dark theme alike. Invalid for an ordinary row.
QColor OutcomeBackground(const QPalette& palette, RowColour outcome);
// The background of a stretch of text that the quick filter matched; the text on it is drawn in
// the palette's text colour, on a selected row too.
QColor MatchBackground(const QPalette& palette);

// Stretches of a cell's text as UTF-16 positions (start, length) of the shown QString.
using TextMarks = std::vector<std::pair<int, int>>;
// The matched stretches of the text: the pattern runs over its UTF-8 form, as the filter did.
TextMarks FindMarks(const ListFilterModel& filter, int column, const QString& text);

// Draws the cells of the window's lists: rows tinted by their outcome (when switched on), and
// the quick filter's matches marked in the searched cells. The text itself is drawn as plain
// text, as the default delegate draws it.
class ListItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit ListItemDelegate(QObject* parent = nullptr);

    // The filter whose matches are marked; none marks nothing.
    void SetFilter(const ListFilterModel* filter) { Filter_ = filter; }
    void SetOutcomeColours(bool on) { OutcomeColours_ = on; }
    bool OutcomeColours() const { return OutcomeColours_; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    const ListFilterModel* Filter_ = nullptr;
    bool OutcomeColours_ = true;
};

} // namespace kavel::ui
