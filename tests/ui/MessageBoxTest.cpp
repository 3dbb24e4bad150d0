#include "ui/MessageBox.h"

#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

class MessageBoxTest : public testing::Test {
protected:
    void SetUp() override {
        test::App();
        MessageBox::Reset();
    }
    void TearDown() override { MessageBox::Reset(); }
};

TEST_F(MessageBoxTest, InjectedAnswersAreRecordedWithTheirTitles) {
    struct Case {
        MessageBox::Kind kind;
        MessageBox::Answer answer;
        QString title;
        bool confirmed;
    };
    const Case cases[] = {
        {MessageBox::Kind::Error, MessageBox::Answer::Ok, QStringLiteral("Fehler"), false},
        {MessageBox::Kind::Warning, MessageBox::Answer::Ok, QStringLiteral("Warnung"), false},
        {MessageBox::Kind::Confirm, MessageBox::Answer::Yes, QStringLiteral("Bestätigen"), true},
        {MessageBox::Kind::Confirm, MessageBox::Answer::No, QStringLiteral("Bestätigen"), false},
        {MessageBox::Kind::Information, MessageBox::Answer::Ok, QStringLiteral("Informationen"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        MessageBox::Reset();
        MessageBox::SetNextAnswer(c.answer);
        const QString text = QStringLiteral("<b>Datei</b> fehlt");
        bool confirmed = false;
        switch (c.kind) {
        case MessageBox::Kind::Error:
            MessageBox::Error(nullptr, text);
            break;
        case MessageBox::Kind::Warning:
            MessageBox::Warning(nullptr, text);
            break;
        case MessageBox::Kind::Confirm:
            confirmed = MessageBox::Confirm(nullptr, text);
            break;
        case MessageBox::Kind::Information:
            MessageBox::Information(nullptr, text);
            break;
        }
        EXPECT_EQ(confirmed, c.confirmed);
        EXPECT_FALSE(MessageBox::HasPendingAnswers());
        ASSERT_EQ(MessageBox::Recorded().size(), 1u);
        EXPECT_EQ(MessageBox::Recorded()[0].kind, c.kind);
        EXPECT_EQ(MessageBox::Recorded()[0].title, c.title);
        EXPECT_EQ(MessageBox::Recorded()[0].text, text);
    }
}

TEST_F(MessageBoxTest, AnswersAreTakenInOrderAndAConfirmationCanHaveItsOwnTitle) {
    MessageBox::SetNextAnswer(MessageBox::Answer::No);
    MessageBox::SetNextAnswer(MessageBox::Answer::Yes);
    EXPECT_FALSE(MessageBox::Confirm(nullptr, QStringLiteral("erste"), QStringLiteral("Kavel")));
    EXPECT_TRUE(MessageBox::Confirm(nullptr, QStringLiteral("zweite")));
    ASSERT_EQ(MessageBox::Recorded().size(), 2u);
    EXPECT_EQ(MessageBox::Recorded()[0].title, QStringLiteral("Kavel"));
    EXPECT_EQ(MessageBox::Recorded()[1].title, QStringLiteral("Bestätigen"));
}

// Without an injected answer the real dialog appears; it must show the text as plain text.
TEST_F(MessageBoxTest, RealDialogShowsPlainTextAndAnswersNo) {
    QString shownText;
    Qt::TextFormat shownFormat = Qt::AutoText;
    QString shownTitle;
    bool found = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        found = true;
        shownText = box->text();
        shownFormat = box->textFormat();
        shownTitle = box->windowTitle();
        box->button(QMessageBox::No)->click();
    });
    poll.start(10);
    // A deadline in case the dialog never shows up, so the test fails instead of hanging.
    QTimer::singleShot(20000, &poll, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
    });
    const bool confirmed = MessageBox::Confirm(nullptr, QStringLiteral("<i>x</i>"));
    poll.stop();
    ASSERT_TRUE(found);
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(shownText, QStringLiteral("<i>x</i>"));
    EXPECT_EQ(shownFormat, Qt::PlainText);
    EXPECT_EQ(shownTitle, QStringLiteral("Bestätigen"));
    EXPECT_TRUE(MessageBox::Recorded().empty());
}

} // namespace
} // namespace kavel::ui
