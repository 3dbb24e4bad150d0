#include "ui/ListItemDelegate.h"

#include "UiTestSupport.h"
#include "acquisition/EntryCells.h"
#include "acquisition/EntryQueue.h"
#include "base/TextPattern.h"
#include "support/TestWorkspace.h"
#include "ui/AccessListModels.h"
#include "ui/ListFilterModel.h"

#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleFactory>
#include <QTableView>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

using kavel::test::Space;

namespace kavel::ui {
namespace {

// WCAG's relative luminance and contrast ratio.
double Luminance(const QColor& colour) {
    const auto channel = [](float value) {
        return value <= 0.03928f ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A dark palette for the Fusion style, as dark desktop themes set it.
QPalette DarkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(53, 53, 53));
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, QColor(35, 35, 35));
    palette.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    palette.setColor(QPalette::Text, QColor(230, 230, 230));
    palette.setColor(QPalette::Button, QColor(53, 53, 53));
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    return palette;
}

QPalette LightPalette() {
    test::App();
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

TEST(ListItemDelegate, OutcomeTintsReadWellInALightAndADarkPalette) {
    test::App();
    for (const QPalette& palette : {LightPalette(), DarkPalette()}) {
        const QColor base = palette.color(QPalette::Base);
        const QColor text = palette.color(QPalette::Text);
        SCOPED_TRACE(base.name().toStdString());
        EXPECT_FALSE(OutcomeBackground(palette, RowColour::Ordinary).isValid());
        std::vector<int> hues;
        for (const RowColour outcome : {RowColour::Redirection, RowColour::Suspicious, RowColour::ClientError,
                                        RowColour::ServerError}) {
            const QColor tint = OutcomeBackground(palette, outcome);
            ASSERT_TRUE(tint.isValid());
            // Derived from the base colour: as light as a light one, as dark as a dark one.
            EXPECT_EQ(tint.lightnessF() >= 0.5f, base.lightnessF() >= 0.5f);
            EXPECT_LT(std::abs(tint.lightnessF() - base.lightnessF()), 0.2f);
            EXPECT_NE(tint, base);
            EXPECT_GE(Contrast(tint, text), 4.5) << static_cast<int>(outcome);
            hues.push_back(tint.hslHue());
        }
        std::sort(hues.begin(), hues.end());
        EXPECT_EQ(std::adjacent_find(hues.begin(), hues.end()), hues.end()) << "one hue per outcome";
        const QColor mark = MatchBackground(palette);
        EXPECT_GE(Contrast(mark, text), 4.5);
        EXPECT_GE(Contrast(mark, base), 1.3) << "a mark stands out from the row";
    }
}

class ListItemDelegateMarks : public testing::Test {
protected:
    ListItemDelegateMarks() {
        test::App();
        Source_.setColumnCount(2);
        Filter_.SetSource(
            &Source_, [this](int row) { return Entries_[static_cast<std::size_t>(row)].get(); },
            [](int column) -> std::optional<EntryCell> {
                return column == 0 ? std::optional<EntryCell>(EntryCell::Line) : std::nullopt;
            });
    }
    void AddRow(const QString& text, int outcome) {
        auto* item = new QStandardItem(text);
        item->setData(outcome, OutcomeRole);
        Source_.appendRow({item, new QStandardItem(text)});
        Entries_.push_back(LogEntry::Make(text.toStdString(), nullptr));
    }
    void Mark(std::string_view pattern, bool caseSensitive = true,
              PatternSyntax syntax = PatternSyntax::Text) {
        auto compiled = TextPattern::Compile(pattern, {syntax, caseSensitive});
        Filter_.SetFilter(
            {std::make_shared<const TextPattern>(std::move(std::get<TextPattern>(compiled))), -1, true});
        ASSERT_TRUE(test::RunEventLoopUntil([this] { return !Filter_.Running(); }));
    }

    QStandardItemModel Source_;
    std::vector<std::unique_ptr<LogEntry>> Entries_;
    ListFilterModel Filter_{Space().Spiders()};
};

TEST_F(ListItemDelegateMarks, MarksAreUtf16StretchesOfTheShownText) {
    AddRow(QStringLiteral("x"), 0);
    // "M\u00E4rz \U0001F600 m\u00E4rz": an umlaut takes two UTF-8 bytes, the emoji four bytes and two
    // UTF-16 units.
    const QString text = QStringLiteral("M\u00E4rz \U0001F600 m\u00E4rz");
    Mark("\xC3\xA4rz", false);
    EXPECT_EQ(FindMarks(Filter_, 0, text), (TextMarks{{1, 3}, {9, 3}}));
    // Only searched columns are marked.
    EXPECT_TRUE(FindMarks(Filter_, 1, text).empty());
    Mark("\xC3\xA4rz", true);
    EXPECT_EQ(FindMarks(Filter_, 0, text), (TextMarks{{1, 3}, {9, 3}}));
    Mark("M\xC3\xA4rz", true);
    EXPECT_EQ(FindMarks(Filter_, 0, text), (TextMarks{{0, 4}}));
    Mark(R"(\p{So})", true, PatternSyntax::RegularExpression);
    EXPECT_EQ(FindMarks(Filter_, 0, text), (TextMarks{{5, 2}}));
    Mark("", true);
    EXPECT_TRUE(FindMarks(Filter_, 0, text).empty());
}

TEST_F(ListItemDelegateMarks, PaintsMarksAndOutcomeTintsFromTheViewsPalette) {
    AddRow(QStringLiteral("needle in a haystack"), static_cast<int>(RowColour::ServerError));
    AddRow(QStringLiteral("plain"), static_cast<int>(RowColour::Ordinary));
    Mark("needle");
    QTableView view;
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    view.setStyle(fusion.get());
    view.setPalette(DarkPalette());
    view.setModel(&Filter_);
    ListItemDelegate delegate;
    delegate.SetFilter(&Filter_);
    view.setItemDelegate(&delegate);
    view.resize(400, 200);
    view.setColumnWidth(0, 300);

    const auto render = [&](int row) {
        QImage image(300, 24, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.widget = &view;
        option.palette = view.palette();
        option.rect = QRect(0, 0, 300, 24);
        option.font = view.font();
        option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        option.state |= QStyle::State_Enabled;
        delegate.paint(&painter, option, Filter_.index(row, 0));
        painter.end();
        return image;
    };
    const auto count = [](const QImage& image, const QColor& colour) {
        int found = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                found += image.pixelColor(x, y).rgb() == colour.rgb() ? 1 : 0;
        return found;
    };
    const QColor mark = MatchBackground(view.palette());
    const QColor tint = OutcomeBackground(view.palette(), RowColour::ServerError);
    const QImage marked = render(0);
    EXPECT_GT(count(marked, mark), 50);
    EXPECT_GT(count(marked, tint), 500);
    // A row without a match and without an outcome shows neither.
    const QImage plain = render(1);
    EXPECT_EQ(count(plain, mark), 0);
    EXPECT_EQ(count(plain, tint), 0);
    // Switched off, the tint goes; the marks stay.
    delegate.SetOutcomeColours(false);
    const QImage untinted = render(0);
    EXPECT_EQ(count(untinted, tint), 0);
    EXPECT_GT(count(untinted, mark), 50);
}

} // namespace
} // namespace kavel::ui
