#include "ui/ListItemDelegate.h"

#include "base/TextPattern.h"
#include "ui/AccessListModels.h"
#include "ui/ListFilterModel.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace kavel::ui {
namespace {

// A colour of the hue that sits on the base colour's side of mid grey, a step away from it.
QColor Tint(const QPalette& palette, float hue, float lightSaturation, float darkSaturation, float lightStep,
            float darkStep) {
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    const float lightness = base.lightnessF();
    if (lightness >= 0.5f)
        return QColor::fromHslF(hue / 360.0f, lightSaturation, std::max(0.5f, lightness - lightStep));
    return QColor::fromHslF(hue / 360.0f, darkSaturation, std::min(0.5f, lightness + darkStep));
}

// The UTF-16 position of every UTF-8 byte offset of the text (and of its end).
std::vector<int> Utf16Positions(const QByteArray& utf8) {
    std::vector<int> positions(static_cast<std::size_t>(utf8.size()) + 1, 0);
    int units = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        positions[static_cast<std::size_t>(i)] = units;
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if ((byte & 0xC0) != 0x80)
            units += byte >= 0xF0 ? 2 : 1;
    }
    positions.back() = units;
    return positions;
}

} // namespace

QColor OutcomeBackground(const QPalette& palette, RowColour outcome) {
    switch (outcome) {
    case RowColour::Redirection:
        return Tint(palette, 210, 0.70f, 0.45f, 0.07f, 0.07f);
    case RowColour::Suspicious:
        return Tint(palette, 285, 0.65f, 0.40f, 0.09f, 0.09f);
    case RowColour::ClientError:
        return Tint(palette, 35, 0.90f, 0.55f, 0.10f, 0.10f);
    case RowColour::ServerError:
        return Tint(palette, 0, 0.80f, 0.50f, 0.12f, 0.12f);
    case RowColour::Ordinary:
        break;
    }
    return {};
}

QColor MatchBackground(const QPalette& palette) {
    return Tint(palette, 50, 1.0f, 0.75f, 0.40f, 0.11f);
}

TextMarks FindMarks(const ListFilterModel& filter, int column, const QString& text) {
    const TextPattern* pattern = filter.Pattern();
    if (pattern == nullptr || pattern->Empty() || text.isEmpty() || !filter.SearchedCell(column))
        return {};
    const QByteArray utf8 = text.toUtf8();
    std::vector<TextSpan> spans;
    if (!pattern->FindAll(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), spans))
        return {};
    const std::vector<int> positions = Utf16Positions(utf8);
    TextMarks marks;
    marks.reserve(spans.size());
    for (const TextSpan& span : spans) {
        const int start = positions[span.Start];
        marks.emplace_back(start, positions[span.Start + span.Length] - start);
    }
    return marks;
}

ListItemDelegate::ListItemDelegate(QObject* parent)
    : QStyledItemDelegate(parent) {}

void ListItemDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!OutcomeColours_)
        return;
    const QVariant outcome = index.data(OutcomeRole);
    if (!outcome.isValid())
        return;
    const QColor tint = OutcomeBackground(option->palette, static_cast<RowColour>(outcome.toInt()));
    if (tint.isValid())
        option->backgroundBrush = tint;
}

void ListItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const TextMarks marks = Filter_ ? FindMarks(*Filter_, index.column(), opt.text) : TextMarks();
    if (marks.empty()) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }

    // Everything but the text as the style draws it, then the marks, then the text over them.
    QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const QString text = opt.text;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    textRect.adjust(margin, 0, -margin, 0);
    const QFontMetrics metrics(opt.font);
    const QString shown = metrics.elidedText(text, opt.textElideMode, textRect.width());
    // What is left of the text before an ellipsis; marks beyond it are cut.
    const int visible =
        shown == text ? static_cast<int>(text.size()) : std::max(0, static_cast<int>(shown.size()) - 1);
    const int shownWidth = metrics.horizontalAdvance(shown);
    const int left =
        (opt.displayAlignment & Qt::AlignRight) ? textRect.right() + 1 - shownWidth : textRect.left();

    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    const QPalette::ColorGroup group =
        (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    const QColor markColour = MatchBackground(opt.palette);
    std::vector<QRect> markRects;
    for (const auto& [start, length] : marks) {
        if (start >= visible)
            continue;
        const int end = std::min(start + length, visible);
        const int x0 = left + metrics.horizontalAdvance(shown.left(start));
        const int x1 = left + metrics.horizontalAdvance(shown.left(end));
        markRects.emplace_back(x0, textRect.top() + 1, x1 - x0, textRect.height() - 2);
    }
    painter->save();
    painter->setClipRect(textRect);
    for (const QRect& rect : markRects)
        painter->fillRect(rect, markColour);
    painter->setFont(opt.font);
    const int flags = static_cast<int>(opt.displayAlignment) | Qt::TextSingleLine;
    painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(textRect, flags, shown);
    if (selected) {
        // On a selected row the marked characters keep the text colour that reads on the mark.
        painter->setPen(opt.palette.color(group, QPalette::Text));
        for (const QRect& rect : markRects) {
            painter->setClipRect(rect.intersected(textRect));
            painter->drawText(textRect, flags, shown);
        }
    }
    painter->restore();
}

} // namespace kavel::ui
