#include "ui/TrayControl.h"

#include "UiTestSupport.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

class TrayControlTest : public testing::Test {
protected:
    TrayControlTest() {
        test::App();
        TrayControl::SetAvailabilityOverride([this] { return Available_; });
        Window_.setWindowTitle(QStringLiteral("www.example.org - Kavel"));
        Window_.show();
    }
    ~TrayControlTest() override { TrayControl::SetAvailabilityOverride({}); }

    // Before any widget.
    QApplication& App_ = test::App();
    bool Available_ = true;
    QWidget Window_;
    TrayControl* Tray_ = new TrayControl(&Window_);
};

TEST_F(TrayControlTest, MinimiseHidesTheWindowBehindOneIcon) {
    int minimised = 0;
    Tray_->SetOnMinimise([&] { ++minimised; });
    ASSERT_TRUE(Tray_->Minimise());
    EXPECT_EQ(minimised, 1);
    EXPECT_FALSE(Window_.isVisible());
    ASSERT_NE(Tray_->Icon(), nullptr);
    EXPECT_TRUE(Tray_->Icon()->isVisible());
    EXPECT_EQ(Tray_->Icon()->toolTip(), QStringLiteral("www.example.org - Kavel"));
    EXPECT_TRUE(Tray_->Timer().isActive());
    EXPECT_EQ(Tray_->Timer().interval(), 1000);

    QSystemTrayIcon* icon = Tray_->Icon();
    ASSERT_TRUE(Tray_->Minimise());
    EXPECT_EQ(Tray_->Icon(), icon);
    EXPECT_EQ(Window_.findChildren<QSystemTrayIcon*>().size(), 1);
}

TEST_F(TrayControlTest, LostIconIsAddedAgain) {
    ASSERT_TRUE(Tray_->Minimise());
    Tray_->Icon()->hide();
    Tray_->CheckIcon();
    EXPECT_TRUE(Tray_->Icon()->isVisible());
    EXPECT_TRUE(Tray_->InTray());
}

TEST_F(TrayControlTest, RestoreAndQuit) {
    ASSERT_TRUE(Tray_->Minimise());
    Tray_->Restore();
    EXPECT_TRUE(Window_.isVisible());
    EXPECT_FALSE(Tray_->Icon()->isVisible());
    EXPECT_FALSE(Tray_->Timer().isActive());

    ASSERT_TRUE(Tray_->Minimise());
    Tray_->Quit();
    EXPECT_FALSE(Tray_->Icon()->isVisible());
    EXPECT_FALSE(Window_.isVisible());
    EXPECT_FALSE(Tray_->InTray());
}

TEST_F(TrayControlTest, MenuHasBoldRestoreAndQuit) {
    const QList<QAction*> actions = Tray_->Menu()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Wiederherstellen"));
    EXPECT_EQ(Tray_->Menu()->defaultAction(), actions[0]);
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), QStringLiteral("Beenden"));
    EXPECT_EQ(actions[2]->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
}

TEST_F(TrayControlTest, WithoutNotificationAreaTheWindowStaysReachable) {
    Available_ = false;
    int minimised = 0;
    Tray_->SetOnMinimise([&] { ++minimised; });
    EXPECT_FALSE(Tray_->Minimise());
    EXPECT_EQ(minimised, 1);
    EXPECT_TRUE(Window_.isVisible());
    EXPECT_FALSE(Tray_->InTray());
    EXPECT_EQ(Tray_->Icon(), nullptr);

    // The notification area going away while the window is in it brings the window back.
    Available_ = true;
    ASSERT_TRUE(Tray_->Minimise());
    Available_ = false;
    Tray_->CheckIcon();
    EXPECT_FALSE(Tray_->InTray());
    EXPECT_TRUE(Window_.isVisible() || Window_.isMinimized());
    EXPECT_FALSE(Tray_->Timer().isActive());
}

} // namespace
} // namespace kavel::ui
