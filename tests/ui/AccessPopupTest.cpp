#include "ui/AccessPopup.h"

#include "UiTestSupport.h"

#include <QLineEdit>
#include <QToolButton>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

using State = AccessPopup::MoveState;

class AccessPopupTest : public testing::Test {
protected:
    AccessPopupTest() {
        test::App();
        AccessPopup::SetDesktopOverride(Desktop);
    }
    ~AccessPopupTest() override { AccessPopup::SetDesktopOverride(std::nullopt); }

    // Steps until the state changes; the number of steps taken.
    int StepUntilLeaving(State state) {
        int steps = 0;
        while (Popup_->State() == state && steps < 1000) {
            Popup_->MoveStep();
            ++steps;
        }
        return steps;
    }

    // Two screens side by side, the right one lower: the popup rises at the corner of both.
    static constexpr QRect Desktop{0, 0, 1920 + 1280, 1200};
    // Before any widget.
    QApplication& App_ = test::App();
    std::unique_ptr<AccessPopup> Popup_ = std::make_unique<AccessPopup>();
};

TEST_F(AccessPopupTest, VirtualDesktopUnitesTheScreens) {
    EXPECT_EQ(AccessPopup::VirtualDesktop({QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1200)}),
              QRect(0, 0, 3200, 1200));
    EXPECT_EQ(AccessPopup::VirtualDesktop({QRect(-1280, 100, 1280, 1024), QRect(0, 0, 1920, 1080)}),
              QRect(-1280, 0, 3200, 1124));
    EXPECT_EQ(Popup_->StartPosition(), QPoint(3200 - 330, 1200));
}

TEST_F(AccessPopupTest, RisesWaitsAndSinks) {
    Popup_->ShowInform(QStringLiteral("Zugriff"), QStringLiteral("Dokumentzugriff"), Icon::NewVisitor);
    EXPECT_TRUE(Popup_->isVisible());
    EXPECT_EQ(Popup_->State(), State::Rising);
    EXPECT_EQ(Popup_->Top(), 1200);
    EXPECT_EQ(Popup_->MoveTimer().interval(), 30);
    EXPECT_TRUE(Popup_->MoveTimer().isActive());
    EXPECT_TRUE(Popup_->FlashTimer().isActive());
    EXPECT_TRUE(Popup_->Headline().endsWith(QStringLiteral("-Dokumentzugriff")));

    // 122 pixels at 4 a step.
    EXPECT_EQ(StepUntilLeaving(State::Rising), 31);
    EXPECT_EQ(Popup_->State(), State::Waiting);
    EXPECT_EQ(Popup_->Top(), 1200 - 124);
    EXPECT_EQ(Popup_->pos(), QPoint(3200 - 330, 1200 - 124));
    EXPECT_EQ(Popup_->MoveTimer().interval(), 5000);

    Popup_->MoveStep();
    EXPECT_EQ(Popup_->State(), State::Sinking);
    EXPECT_EQ(Popup_->MoveTimer().interval(), 15);
    EXPECT_EQ(StepUntilLeaving(State::Sinking), 32);
    EXPECT_EQ(Popup_->State(), State::Hidden);
    EXPECT_FALSE(Popup_->MoveTimer().isActive());
    EXPECT_FALSE(Popup_->isVisible());
}

TEST_F(AccessPopupTest, MessagesWhileShown) {
    Popup_->ShowInform(QStringLiteral("eins"), QStringLiteral("A"), Icon::NewVisitor);
    StepUntilLeaving(State::Rising);
    // Waiting: the content changes and the wait starts anew.
    Popup_->ShowInform(QStringLiteral("zwei"), QStringLiteral("A"), Icon::None);
    EXPECT_EQ(Popup_->State(), State::Waiting);
    EXPECT_EQ(Popup_->Message(), QStringLiteral("zwei"));
    EXPECT_EQ(Popup_->Image(), Icon::None);
    EXPECT_TRUE(Popup_->MoveTimer().isActive());
    // Sinking: it rises again at the sinking pace.
    Popup_->MoveStep();
    Popup_->MoveStep();
    ASSERT_EQ(Popup_->State(), State::Sinking);
    const int top = Popup_->Top();
    Popup_->ShowInform(QStringLiteral("drei"), QStringLiteral("A"), Icon::NewVisitor);
    EXPECT_EQ(Popup_->State(), State::Rising);
    EXPECT_EQ(Popup_->MoveTimer().interval(), 15);
    Popup_->MoveStep();
    EXPECT_EQ(Popup_->Top(), top - 4);
}

TEST_F(AccessPopupTest, StopFreezesAndStartSinks) {
    Popup_->ShowInform(QStringLiteral("eins"), QStringLiteral("A"), Icon::NewVisitor);
    Popup_->MoveStep();
    Popup_->StopButton()->click();
    EXPECT_TRUE(Popup_->MovementStopped());
    EXPECT_EQ(Popup_->StopButton()->text(), QStringLiteral("Start"));
    EXPECT_FALSE(Popup_->MoveTimer().isActive());
    const int top = Popup_->Top();
    Popup_->ShowInform(QStringLiteral("zwei"), QStringLiteral("A"), Icon::NewVisitor);
    EXPECT_EQ(Popup_->Message(), QStringLiteral("zwei"));
    EXPECT_EQ(Popup_->Top(), top);
    Popup_->StopButton()->click();
    EXPECT_EQ(Popup_->StopButton()->text(), QStringLiteral("Stop"));
    EXPECT_EQ(Popup_->State(), State::Sinking);
    EXPECT_TRUE(Popup_->MoveTimer().isActive());
    EXPECT_EQ(Popup_->MoveTimer().interval(), 15);
}

TEST_F(AccessPopupTest, DraggedPopupStaysAndCloseStartsBelowTheEdge) {
    Popup_->ShowInform(QStringLiteral("eins"), QStringLiteral("A"), Icon::NewVisitor);
    Popup_->StopAfterDrag();
    EXPECT_TRUE(Popup_->MovementStopped());
    EXPECT_FALSE(Popup_->MoveTimer().isActive());
    Popup_->CloseNow();
    EXPECT_FALSE(Popup_->isVisible());
    EXPECT_EQ(Popup_->State(), State::Hidden);
    EXPECT_EQ(Popup_->Top(), 1200);
    // Stopping is not forgotten by hiding, yet the next message rises as usual.
    Popup_->ShowInform(QStringLiteral("zwei"), QStringLiteral("A"), Icon::NewVisitor);
    EXPECT_EQ(Popup_->State(), State::Rising);
    EXPECT_TRUE(Popup_->MoveTimer().isActive());
    EXPECT_EQ(Popup_->StopButton()->text(), QStringLiteral("Start"));
}

TEST_F(AccessPopupTest, FlashesFourTimesAndEndsInTheNormalColours) {
    const QColor title = Popup_->TitleColour();
    const QColor headline = Popup_->HeadlineColour();
    Popup_->ShowInform(QStringLiteral("eins"), QStringLiteral("A"), Icon::NewVisitor);
    int yellow = 0;
    for (int step = 0; step < 8; ++step) {
        ASSERT_TRUE(Popup_->FlashTimer().isActive()) << step;
        Popup_->FlashStep();
        if (Popup_->TitleColour() == QColor(255, 255, 0)) {
            ++yellow;
            EXPECT_EQ(Popup_->HeadlineColour(), QColor(255, 0, 0));
        }
    }
    EXPECT_EQ(yellow, 4);
    EXPECT_FALSE(Popup_->FlashTimer().isActive());
    EXPECT_EQ(Popup_->FlashCount(), 8);
    EXPECT_EQ(Popup_->TitleColour(), title);
    EXPECT_EQ(Popup_->HeadlineColour(), headline);
}

TEST_F(AccessPopupTest, NeverTakesTheFocus) {
    QLineEdit typing;
    typing.show();
    typing.activateWindow();
    typing.setFocus();
    QApplication::processEvents();
    QWidget* before = QApplication::focusWidget();
    Popup_->ShowInform(QStringLiteral("eins"), QStringLiteral("A"), Icon::NewVisitor);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), before);
    EXPECT_TRUE(Popup_->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(Popup_->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_NE(QApplication::activeWindow(), Popup_.get());
}

TEST_F(AccessPopupTest, ReaderTextKeepsItsLineBreakAndShowsControlBytes) {
    Popup_->ShowReaderMessage("Zugriff auf \r\n/a\x1b[2J von 10.0.0.1 f\xfcr www", "Dokumentzugriff",
                              Icon::None);
    const QStringList lines = Popup_->Message().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("Zugriff auf "));
    EXPECT_FALSE(lines[1].contains(QChar(0x1b)));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("für www")));
}

} // namespace
} // namespace kavel::ui
