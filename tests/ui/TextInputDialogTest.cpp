#include "ui/TextInputDialog.h"

#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

const QString Title = QStringLiteral("Bestimmte Wörter ausblenden");
const QString Prompt = QStringLiteral("Wörter eingeben, die ausgeblendet werden sollen");
const QString Note = QStringLiteral("Einzelne Wörter werden durch Kommata getrennt.");

class TextInputDialogTest : public testing::Test {
protected:
    void SetUp() override {
        test::App();
        TextInputDialog::Reset();
    }
    void TearDown() override { TextInputDialog::Reset(); }
};

TEST_F(TextInputDialogTest, AnswersDecideTheResultAndTheText) {
    struct Case {
        const char* name;
        TextInputDialog::Answer answer;
        bool result;
        QString text;
    };
    const Case cases[] = {
        {"ConfirmEdited", {true, QStringLiteral("gif,css")}, true, QStringLiteral("gif,css")},
        {"ConfirmUnchanged", {true, std::nullopt}, true, QStringLiteral("alt")},
        {"ConfirmEmpty", {true, QString()}, true, QString()},
        {"CancelEdited", {false, QStringLiteral("neu")}, false, QStringLiteral("alt")},
        {"CancelUnchanged", {false, std::nullopt}, false, QStringLiteral("alt")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextInputDialog::SetNextAnswer(c.answer);
        QString text = QStringLiteral("alt");
        EXPECT_EQ(InputText(nullptr, Title, Prompt, text, Note), c.result);
        EXPECT_EQ(text, c.text);
        const auto request = TextInputDialog::LastAnsweredRequest();
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(request->title, Title);
        EXPECT_EQ(request->prompt, Prompt);
        EXPECT_EQ(request->text, QStringLiteral("alt"));
        EXPECT_EQ(request->note, Note);
    }
}

TEST_F(TextInputDialogTest, PreparedDialogShowsItsTextsPlainly) {
    TextInputDialog dialog;
    EXPECT_EQ(dialog.objectName(), QStringLiteral("FormTextInput"));
    EXPECT_EQ(dialog.PromptLabel()->text(), QStringLiteral("Bitte Text eingeben:"));

    // A host name from the log may carry markup; it must show as written.
    const QString prompt = QStringLiteral("<b>Domäne</b> der (Nicht-)Suchmaschine eingeben");
    dialog.Prepare({QStringLiteral("Als Suchmaschine kennzeichnen"), prompt, QStringLiteral("<i>host</i>"),
                    QStringLiteral("Nur neue Protokolleinträge werden berücksichtigt")});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Als Suchmaschine kennzeichnen"));
    EXPECT_EQ(dialog.PromptLabel()->text(), prompt);
    EXPECT_EQ(dialog.PromptLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(dialog.NoteLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(dialog.NoteLabel()->text(), QStringLiteral("Nur neue Protokolleinträge werden berücksichtigt"));
    EXPECT_EQ(dialog.TextEdit()->text(), QStringLiteral("<i>host</i>"));
    EXPECT_TRUE(dialog.TextEdit()->toolTip().contains(QStringLiteral("&lt;b&gt;")));

    const struct {
        const char* name;
        QString text;
        QString toolTip;
    } buttons[] = {
        {"ButtonTextInputOK", QStringLiteral("OK"),
         QStringLiteral("Eingaben übernehmen und Dialog schließen")},
        {"ButtonTextInputCancel", QStringLiteral("Abbrechen"),
         QStringLiteral("Änderungen verwerfen und Dialog schließen")},
    };
    for (const auto& b : buttons) {
        auto* button = dialog.findChild<QPushButton*>(QString::fromLatin1(b.name));
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), b.text);
        EXPECT_EQ(button->toolTip(), b.toolTip);
    }
    EXPECT_TRUE(dialog.findChild<QPushButton*>(QStringLiteral("ButtonTextInputOK"))->isDefault());
    EXPECT_NE(dialog.findChild<QLineEdit*>(QStringLiteral("EditTextInput")), nullptr);
    EXPECT_NE(dialog.findChild<QLabel*>(QStringLiteral("LabelTextInputDesc")), nullptr);

    dialog.TextEdit()->setText(QStringLiteral("crawler.example"));
    EXPECT_EQ(dialog.EnteredText(), QStringLiteral("crawler.example"));
}

// Without an injected answer the dialog is shown modally; its buttons end it.
TEST_F(TextInputDialogTest, ShownDialogEndsWithItsButtons) {
    struct Case {
        const char* button;
        const char* typed;
        bool result;
        QString text;
    };
    const Case cases[] = {
        {"ButtonTextInputOK", "neu", true, QStringLiteral("neu")},
        {"ButtonTextInputCancel", "neu", false, QStringLiteral("alt")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        bool clicked = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
            auto* dialog = qobject_cast<TextInputDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible() || clicked) {
                return;
            }
            clicked = true;
            dialog->TextEdit()->setText(QString::fromLatin1(c.typed));
            dialog->findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
        });
        poll.start(10);
        // A deadline in case the dialog never shows up, so the test fails instead of hanging.
        QTimer::singleShot(20000, &poll, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
        });
        QString text = QStringLiteral("alt");
        EXPECT_EQ(InputText(nullptr, Title, Prompt, text, Note), c.result);
        poll.stop();
        EXPECT_TRUE(clicked);
        EXPECT_EQ(text, c.text);
        EXPECT_FALSE(TextInputDialog::LastAnsweredRequest().has_value());
    }
}

} // namespace
} // namespace kavel::ui
