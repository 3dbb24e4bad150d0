#include "ui/AboutDialog.h"

#include "UiTestSupport.h"
#include "base/VersionInfo.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

TEST(VersionLineTest, LastPointBecomesTheBuildNumber) {
    struct Case {
        const char* version;
        const char* line;
    };
    const Case cases[] = {
        {"1.0.1.5", "1.0.1 (Build No. 5)"}, {"2.3", "2 (Build No. 3)"}, {"7", "7"}, {"", ""}};
    for (const Case& c : cases)
        EXPECT_EQ(VersionLine(QString::fromLatin1(c.version)), QString::fromLatin1(c.line)) << c.version;
}

class AboutDialogTest : public testing::Test {
protected:
    AboutDialogTest() { test::App(); }
    // Before any widget.
    QApplication& App_ = test::App();
    AboutDialog About_;
};

// The box shows the version the project is built as, its last number as the build number.
TEST_F(AboutDialogTest, ContentsFromTheVersionInformation) {
    EXPECT_EQ(About_.windowTitle(), QStringLiteral("Über Kavel"));
    EXPECT_EQ(About_.findChild<QLineEdit*>(QStringLiteral("EditFileVersion"))->text(),
              QString::fromLatin1(KAVEL_TEST_VERSION_RELEASE " (Build No. " KAVEL_TEST_VERSION_BUILD ")"));
    EXPECT_EQ(About_.findChild<QLineEdit*>(QStringLiteral("EditProductName"))->text(),
              QStringLiteral("Kavel"));
    EXPECT_TRUE(About_.findChild<QLineEdit*>(QStringLiteral("EditProductName"))->isReadOnly());
    EXPECT_FALSE(About_.findChild<QLineEdit*>(QStringLiteral("EditLegalCopyright"))->isReadOnly());
    EXPECT_EQ(About_.size(), QSize(401, 297));
}

TEST_F(AboutDialogTest, FadesInToTwoHundredFiftyAndOutAgain) {
    About_.StartFade();
    EXPECT_TRUE(About_.isVisible());
    EXPECT_TRUE(About_.Fading());
    EXPECT_EQ(About_.FadeTimer().interval(), 30);
    EXPECT_EQ(About_.Opacity(), 0);
    int steps = 0;
    int highest = 0;
    while (About_.Fading() && steps < 1000) {
        About_.FadeStep();
        ++steps;
        highest = std::max(highest, About_.Opacity() == 255 ? 0 : About_.Opacity());
        if (steps == 1) {
            EXPECT_EQ(About_.Opacity(), 2);
        }
        if (steps == 125) {
            EXPECT_EQ(About_.Opacity(), 250);
            EXPECT_EQ(About_.Step(), -2);
        }
    }
    EXPECT_EQ(steps, 250);
    EXPECT_EQ(highest, 250);
    EXPECT_FALSE(About_.isVisible());
    EXPECT_DOUBLE_EQ(About_.windowOpacity(), 1.0);
    // The fade runs once a program run.
    About_.StartFade();
    EXPECT_FALSE(About_.Fading());
}

TEST_F(AboutDialogTest, OkEndsTheFadeAtOnce) {
    About_.StartFade();
    for (int i = 0; i < 10; ++i)
        About_.FadeStep();
    About_.OkButton()->click();
    EXPECT_FALSE(About_.isVisible());
    EXPECT_FALSE(About_.Fading());
    EXPECT_DOUBLE_EQ(About_.windowOpacity(), 1.0);
}

TEST_F(AboutDialogTest, CloseAndMinimiseEndTheFade) {
    About_.StartFade();
    About_.close();
    EXPECT_FALSE(About_.isVisible());
    EXPECT_FALSE(About_.Fading());
    AboutDialog other;
    other.StartFade();
    other.EndFade();
    EXPECT_FALSE(other.isVisible());
}

TEST_F(AboutDialogTest, LaterShowingIsModalAtFullOpacity) {
    About_.StartFade();
    // While the start-up picture is visible the Info action does nothing.
    About_.ShowModal();
    EXPECT_TRUE(About_.Fading());
    About_.EndFade();
    QTimer::singleShot(0, &About_, [this] {
        EXPECT_TRUE(About_.isModal());
        EXPECT_DOUBLE_EQ(About_.windowOpacity(), 1.0);
        About_.OkButton()->click();
    });
    About_.ShowModal();
    EXPECT_EQ(About_.result(), QDialog::Accepted);
    EXPECT_FALSE(About_.isVisible());
}

TEST_F(AboutDialogTest, LinkOpensTheMakersPage) {
    test::RecordingOpener opener;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(About_.Link(), &press);
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0].host(), About_.Link()->text());
}

} // namespace
} // namespace kavel::ui
