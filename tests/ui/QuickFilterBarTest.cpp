#include "ui/QuickFilterBar.h"

#include "UiTestSupport.h"
#include "base/TextPattern.h"
#include "ui/ListItemDelegate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

class QuickFilterBarTest : public testing::Test {
protected:
    QuickFilterBarTest() {
        Bar_.SetTypingPause(20);
        Bar_.show();
    }
    template <class T>
    T* Child(const char* name) {
        T* child = Bar_.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    // The application object comes before the widgets.
    QApplication& App_ = test::App();
    QuickFilterBar Bar_;
    QSignalSpy Changed_{&Bar_, &QuickFilterBar::FilterChanged};
};

TEST_F(QuickFilterBarTest, ControlsAreFoundByNameWithTheirTexts) {
    QLineEdit* field = Child<QLineEdit>("EditQuickFilter");
    EXPECT_EQ(field->accessibleName(), QStringLiteral("Schnellfilter"));
    QComboBox* syntax = Child<QComboBox>("ComboQuickFilterSyntax");
    ASSERT_EQ(syntax->count(), 2);
    EXPECT_EQ(syntax->itemText(0), QStringLiteral("Text"));
    EXPECT_EQ(syntax->itemText(1), QStringLiteral("Regul\u00E4rer Ausdruck"));
    EXPECT_EQ(Child<QCheckBox>("CheckQuickFilterCaseSensitive")->text(),
              QStringLiteral("Gro\u00DF-/Kleinschreibung beachten"));
    EXPECT_EQ(Child<QCheckBox>("CheckQuickFilterMarkOnly")->text(), QStringLiteral("Nur markieren"));
    QComboBox* column = Child<QComboBox>("ComboQuickFilterColumn");
    EXPECT_EQ(column->itemText(0), QStringLiteral("Alle Spalten"));
    Bar_.SetColumns({QStringLiteral("Seite"), QStringLiteral("Code")}, {6, 7}, 7);
    EXPECT_EQ(column->count(), 3);
    EXPECT_EQ(Bar_.ChosenColumn(), 7);
    Bar_.SetColumns({QStringLiteral("Protokollzeile")}, {0}, 7);
    EXPECT_EQ(Bar_.ChosenColumn(), -1);
}

TEST_F(QuickFilterBarTest, TypingAppliesAfterAPauseAndOptionsAtOnce) {
    QTest::keyClicks(Bar_.Field(), QStringLiteral("bot"));
    EXPECT_EQ(Changed_.count(), 0);
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Changed_.count() == 1; }));
    ASSERT_TRUE(Bar_.Pattern());
    EXPECT_EQ(Bar_.Pattern()->Pattern(), "bot");
    EXPECT_FALSE(Bar_.Pattern()->Options().CaseSensitive);
    Child<QCheckBox>("CheckQuickFilterCaseSensitive")->setChecked(true);
    EXPECT_EQ(Changed_.count(), 2);
    EXPECT_TRUE(Bar_.Pattern()->Options().CaseSensitive);
    Child<QComboBox>("ComboQuickFilterSyntax")->setCurrentIndex(1);
    EXPECT_EQ(Changed_.count(), 3);
    EXPECT_EQ(Bar_.Pattern()->Options().Syntax, PatternSyntax::RegularExpression);
    EXPECT_TRUE(Bar_.CurrentState().Regex);
    // Enter applies what was typed without the pause.
    QTest::keyClicks(Bar_.Field(), QStringLiteral("s"));
    QTest::keyClick(Bar_.Field(), Qt::Key_Return);
    EXPECT_EQ(Changed_.count(), 4);
    EXPECT_EQ(Bar_.Pattern()->Pattern(), "bots");
}

TEST_F(QuickFilterBarTest, AnInvalidPatternTurnsTheFieldRedAndChangesNothing) {
    Bar_.SetState({QStringLiteral("ok"), true, false, false});
    const int applied = static_cast<int>(Changed_.count());
    QLineEdit* field = Bar_.Field();
    const QColor normal = field->palette().color(QPalette::Base);
    QTest::keyClicks(field, QStringLiteral("(<b>x"));
    EXPECT_FALSE(Bar_.TextValid());
    EXPECT_EQ(Bar_.Pattern()->Pattern(), "ok");
    EXPECT_EQ(field->palette().color(QPalette::Base),
              OutcomeBackground(Bar_.palette(), RowColour::ServerError));
    EXPECT_NE(field->palette().color(QPalette::Base), normal);
    // The engine's message, the pattern in it shown as text.
    EXPECT_TRUE(field->toolTip().contains(QStringLiteral("missing )"))) << field->toolTip().toStdString();
    EXPECT_TRUE(field->toolTip().contains(QStringLiteral("&lt;b&gt;"))) << field->toolTip().toStdString();
    EXPECT_FALSE(field->toolTip().contains(QStringLiteral("<b>")));
    // Closed, it applies after the pause: the invalid texts before it were never handed on.
    QTest::keyClicks(field, QStringLiteral(")"));
    ASSERT_TRUE(test::RunEventLoopUntil([&] { return Changed_.count() > applied; }));
    EXPECT_EQ(Changed_.count(), applied + 1);
    EXPECT_EQ(Bar_.Pattern()->Pattern(), "ok(<b>x)");
    QTest::keyClicks(field, QStringLiteral("("));
    EXPECT_FALSE(Bar_.TextValid());
    // As text the same characters are fine.
    Child<QComboBox>("ComboQuickFilterSyntax")->setCurrentIndex(0);
    EXPECT_TRUE(Bar_.TextValid());
    EXPECT_EQ(Bar_.Pattern()->Pattern(), "ok(<b>x)(");
    EXPECT_EQ(field->palette().color(QPalette::Base), normal);
    EXPECT_TRUE(field->toolTip().isEmpty());
}

TEST_F(QuickFilterBarTest, EscClearsAndLeavesEnterFindsTheNextMatchWhenOnlyMarking) {
    QSignalSpy left(&Bar_, &QuickFilterBar::Left);
    QSignalSpy next(&Bar_, &QuickFilterBar::NextMatchRequested);
    Bar_.SetState({QStringLiteral("x"), false, false, true});
    QTest::keyClick(Bar_.Field(), Qt::Key_Return);
    QTest::keyClick(Bar_.Field(), Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_EQ(next.count(), 2);
    EXPECT_FALSE(next.at(0).at(0).toBool());
    EXPECT_TRUE(next.at(1).at(0).toBool());
    QTest::keyClick(Bar_.Field(), Qt::Key_Escape);
    EXPECT_EQ(left.count(), 1);
    EXPECT_TRUE(Bar_.Field()->text().isEmpty());
    EXPECT_FALSE(Bar_.Pattern());
    // Enter without "mark only" asks for no match.
    Bar_.SetState({QStringLiteral("x"), false, false, false});
    QTest::keyClick(Bar_.Field(), Qt::Key_Return);
    EXPECT_EQ(next.count(), 2);
}

TEST_F(QuickFilterBarTest, TheCountSaysHowManyOfHowManyAccesses) {
    QLabel* count = Child<QLabel>("LabelQuickFilterCount");
    Bar_.SetCounts(3, 10);
    EXPECT_TRUE(count->text().isEmpty());
    Bar_.SetState({QStringLiteral("x"), false, false, false});
    Bar_.SetCounts(3, 10);
    EXPECT_EQ(count->text(), QStringLiteral("3 von 10 Zugriffen"));
    QProgressBar* progress = Child<QProgressBar>("ProgressQuickFilter");
    Bar_.SetProgress(50, 200, true);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->value(), 50);
    Bar_.SetProgress(200, 200, false);
    EXPECT_FALSE(progress->isVisible());
}

} // namespace
} // namespace kavel::ui
