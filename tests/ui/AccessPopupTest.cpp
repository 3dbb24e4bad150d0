#include "ui/AccessPopup.h"

#include "UiTestSupport.h"

#include <QDialog>
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

struct RestCase {
    const char* name;
    QList<QRect> avoid;
    QPoint rest;
};

// At 1280 x 800 a maximised window's scroll bars run along the right edge and above the
// status bar: the popup comes to rest clear of both, as near to the corner as it can.
TEST(AccessPopupPlace, ComesToRestClearOfTheAreasToAvoidWhereTheDesktopAllows) {
    const QRect desktop(0, 0, 1280, 800);
    const QSize size(AccessPopup::ClientWidth, AccessPopup::ClientHeight);
    const QRect vertical(1264, 150, 16, 610);
    const QRect horizontal(260, 762, 1004, 16);
    const RestCase cases[] = {
        {"Nothing", {}, QPoint(950, 678)},
        {"BothScrollBars", {vertical, horizontal}, QPoint(934, 640)},
        {"VerticalOnly", {vertical}, QPoint(934, 678)},
        {"HorizontalAcrossTheScreen", {QRect(0, 700, 1280, 16)}, QPoint(950, 578)},
        {"ClearAlready", {QRect(0, 0, 100, 100)}, QPoint(950, 678)},
        // Nowhere clear: the corner, as designed.
        {"EverythingCovered", {desktop}, QPoint(950, 678)},
    };
    for (const RestCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QPoint rest = AccessPopup::RestPosition(desktop, size, c.avoid);
        EXPECT_EQ(rest, c.rest);
        EXPECT_TRUE(desktop.contains(QRect(rest, size)));
    }
}

TEST_F(AccessPopupTest, RisesToItsRestPlaceClearOfTheAreasItIsTold) {
    const QRect bar(Desktop.right() - 15, 100, 16, 1000);
    Popup_->SetAvoidAreas([bar] { return QList<QRect>{bar}; });
    Popup_->ShowInform(QStringLiteral("eins"), QStringLiteral("A"), Icon::NewVisitor);
    EXPECT_EQ(Popup_->pos(), QPoint(bar.left() - 330, 1200));
    StepUntilLeaving(State::Rising);
    EXPECT_EQ(Popup_->State(), State::Waiting);
    EXPECT_FALSE(Popup_->geometry().intersects(bar));
}

// Never over a dialog the user is answering: the popup waits for it to close.
TEST_F(AccessPopupTest, WaitsWhileAModalDialogIsOpenAndRisesOnceItIsGone) {
    auto dialog = std::make_unique<QDialog>();
    dialog->setModal(true);
    dialog->show();
    ASSERT_EQ(QApplication::activeModalWidget(), dialog.get());
    Popup_->ShowInform(QStringLiteral("eins"), QStringLiteral("A"), Icon::NewVisitor);
    EXPECT_FALSE(Popup_->isVisible());
    EXPECT_TRUE(Popup_->Deferred());
    Popup_->ShowInform(QStringLiteral("zwei"), QStringLiteral("A"), Icon::NewVisitor);
    EXPECT_EQ(Popup_->Message(), QStringLiteral("zwei"));
    dialog->reject();
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Popup_->isVisible(); }, 5000));
    EXPECT_EQ(Popup_->State(), State::Rising);
    EXPECT_FALSE(Popup_->Deferred());

    // A dialog that opens while the popup is up sends it away until the dialog is gone.
    dialog->show();
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return !Popup_->isVisible(); }, 5000));
    EXPECT_TRUE(Popup_->Deferred());
    dialog->reject();
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Popup_->isVisible(); }, 5000));
    EXPECT_EQ(Popup_->State(), State::Rising);
}

TEST_F(AccessPopupTest, AStoppedPopupComesBackWhereItWasAfterADialog) {
    Popup_->ShowInform(QStringLiteral("eins"), QStringLiteral("A"), Icon::NewVisitor);
    StepUntilLeaving(State::Rising);
    Popup_->StopAfterDrag();
    const QPoint place = Popup_->pos();
    QDialog dialog;
    dialog.setModal(true);
    dialog.show();
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return !Popup_->isVisible(); }, 5000));
    dialog.reject();
    ASSERT_TRUE(test::RunEventLoopUntil([this] { return Popup_->isVisible(); }, 5000));
    EXPECT_EQ(Popup_->pos(), place);
    EXPECT_EQ(Popup_->State(), State::Waiting);
    EXPECT_FALSE(Popup_->MoveTimer().isActive());
}

// Only the balloon and the picture's own shape are shown: no box behind the picture.
TEST_F(AccessPopupTest, ThePictureHasNoBoxBehindIt) {
    const QRegion shown = Popup_->mask();
    // The corners of the picture's place are transparent in the picture.
    EXPECT_FALSE(shown.contains(QPoint(2, 1)));
    EXPECT_FALSE(shown.contains(QPoint(6, 9)));
    EXPECT_FALSE(shown.contains(QPoint(76, 8)));
    // The picture itself and the balloon are shown.
    EXPECT_TRUE(shown.contains(QPoint(39, 44)));
    EXPECT_TRUE(shown.contains(QPoint(200, 80)));
    // Nothing outside the balloon and the picture.
    EXPECT_FALSE(shown.contains(QPoint(320, 10)));
}

} // namespace
} // namespace kavel::ui
