#include "ui/HelpViewer.h"

#include "UiTestSupport.h"
#include "ui/DesktopOpener.h"
#include "ui/MessageBox.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <filesystem>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

constexpr HelpTopic AllTopics[] = {HelpTopic::General, HelpTopic::Accesses, HelpTopic::RawLines,
                                   HelpTopic::Exceptions};

class HelpViewerTest : public testing::Test {
protected:
    void SetUp() override {
        test::App();
        MessageBox::Reset();
    }
    void TearDown() override { MessageBox::Reset(); }
};

TEST_F(HelpViewerTest, TopicsHaveTheirPageNames) {
    const struct {
        HelpTopic topic;
        QString file;
    } cases[] = {
        {HelpTopic::General, QStringLiteral("topicAllgemein.html")},
        {HelpTopic::Accesses, QStringLiteral("topicZugriffe.html")},
        {HelpTopic::RawLines, QStringLiteral("topicRohformat.html")},
        {HelpTopic::Exceptions, QStringLiteral("topicAusnahmen.html")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HelpTopicFileName(c.topic), c.file);
    }
}

// The build copies the pages beside every executable that shows help, this test included.
TEST_F(HelpViewerTest, EveryTopicOpensFromTheBuiltHelpFolder) {
    test::RecordingOpener opener;
    const HelpViewer viewer;
    for (HelpTopic topic : AllTopics) {
        SCOPED_TRACE(HelpTopicFileName(topic).toStdString());
        EXPECT_TRUE(viewer.ShowTopic(nullptr, topic));
        ASSERT_FALSE(opener.opened.empty());
        const QUrl url = opener.opened.back();
        EXPECT_TRUE(url.isLocalFile());
        EXPECT_EQ(std::filesystem::path(url.toLocalFile().toStdString()), viewer.TopicPath(topic));
        EXPECT_EQ(viewer.TopicPath(topic).parent_path(), DefaultHelpDir());
    }
    EXPECT_EQ(opener.opened.size(), std::size(AllTopics));
    EXPECT_TRUE(MessageBox::Recorded().empty());
}

TEST_F(HelpViewerTest, MissingPageIsReportedAsErrorAndNothingOpens) {
    test::RecordingOpener opener;
    const HelpViewer viewer(std::filesystem::path(KAVEL_TEST_DATA_DIR) / "ui" / "partial-help");

    EXPECT_TRUE(viewer.ShowTopic(nullptr, HelpTopic::General));
    ASSERT_EQ(opener.opened.size(), 1u);

    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    EXPECT_FALSE(viewer.ShowTopic(nullptr, HelpTopic::Exceptions));
    EXPECT_EQ(opener.opened.size(), 1u);
    ASSERT_EQ(MessageBox::Recorded().size(), 1u);
    EXPECT_EQ(MessageBox::Recorded()[0].title, QStringLiteral("Fehler"));
    EXPECT_TRUE(MessageBox::Recorded()[0].text.contains(QStringLiteral("topicAusnahmen.html")));
}

// F1 without a browser: the desktop's opener starts and then finds none; the user reads why.
TEST_F(HelpViewerTest, AHelpPageThatNoBrowserOpensIsReported) {
    const QString failing = QStandardPaths::findExecutable(QStringLiteral("false"));
    ASSERT_FALSE(failing.isEmpty());
    DesktopOpener::SetOpenCommand(failing);
    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    EXPECT_TRUE(HelpViewer().ShowTopic(nullptr, HelpTopic::General));
    const bool reported = test::RunEventLoopUntil([] { return !MessageBox::Recorded().empty(); }, 10000);
    DesktopOpener::SetOpenCommand(std::nullopt);
    ASSERT_TRUE(reported);
    EXPECT_EQ(MessageBox::Recorded()[0].kind, MessageBox::Kind::Error);
    EXPECT_TRUE(MessageBox::Recorded()[0].text.contains(QStringLiteral("topicAllgemein.html")));
}

} // namespace
} // namespace kavel::ui
