#include "ui/AlertsDialog.h"

#include "UiTestSupport.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/ProgramLifecycle.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "base/CommandLine.h"
#include "base/DefinitionFile.h"
#include "platform/Tone.h"
#include "platform/qt/QtDispatcher.h"
#include "support/ReaderTestSupport.h"
#include "support/TempFolder.h"
#include "support/TestWorkspace.h"
#include "ui/AccessPopup.h"
#include "ui/AlertLogModel.h"
#include "ui/AlertRuleDialog.h"
#include "ui/AlertsController.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <ctime>
#include <gtest/gtest.h>

using kavel::test::Space;

namespace kavel::ui {
namespace {

using kavel::test::ReadBytes;
using kavel::test::WriteBytes;

std::string NcsaNow(int status, const std::string& page = "/index.html") {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S +0000", &local);
    return std::string("192.0.2.9 - - [") + stamp + "] \"GET " + page + " HTTP/1.1\" " +
           std::to_string(status) + " 100 \"-\" \"x\"\n";
}

const std::string RulesFile = "# Alerts Definition File\r\n"
                              "Fehler;*;status:5xx;2;5;10;1;notify,beep;\r\n"
                              "unlesbar\r\n"
                              "Stille;web;rate:below;1;2;10;0;notify;\r\n";

// The window with a server whose log is read from a temporary home, and its alerts.
class AlertsDialogTest : public testing::Test {
protected:
    AlertsDialogTest() {
        MessageBox::Reset();
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kavel-test-bus", 1);
    }
    ~AlertsDialogTest() override {
        AlertsDialog::SetRuleEditor({});
        if (Window_) {
            Window_->close();
            Window_.reset();
        }
        Space().Readers().StopAll();
        Space().Readers().Clear();
        Space().Entries().Clear();
        Space().Servers().Clear();
        MessageBox::Reset();
    }

    void Start(const std::string& rules = RulesFile) {
        WriteBytes(Home_ / "access.log", NcsaNow(500));
        WriteBytes(Home_ / "kavel.servers",
                   "web;" + (Home_ / "access.log").string() + ";1;500;0;0;0;-1;10;0;0;0\r\n");
        WriteBytes(Home_ / "kavel.alerts", rules);
        Lifecycle_.CreateObjects();
        MainWindow::Setup setup;
        setup.Lifecycle = &Lifecycle_;
        Window_ = std::make_unique<MainWindow>(Space(), setup);
        Window_->show();
        ASSERT_TRUE(test::RunEventLoopUntil([this] { return Window_->FirstIdleDone(); }));
    }

    AlertsController& Alerts() { return Window_->Alerts(); }
    AlertsDialog& Dialog() {
        AlertsDialog& dialog = Alerts().Dialog();
        dialog.Prepare();
        return dialog;
    }
    template <class T>
    T* Child(QObject* parent, const char* name) {
        T* child = parent->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    QApplication& App_ = test::App();
    kavel::test::ScopedHome Home_;
    kavel::test::ScopedNoNameLookups NoLookups_;
    platform::QtDispatcher Dispatcher_;
    platform::ScopedDispatcher UseDispatcher_{Dispatcher_};
    platform::RecordingTone Tone_;
    platform::ScopedTone UseTone_{Tone_};
    std::vector<std::string> Errors_;
    ProgramLifecycle Lifecycle_{Space(), [this](const std::string& message) { Errors_.push_back(message); }};
    std::unique_ptr<MainWindow> Window_;
};

TEST_F(AlertsDialogTest, ExtrasMenuOpensTheDialogAndThePageListsTheAlerts) {
    Start();
    QAction* action = Window_->Action("ActionMenuExtrasAlerts");
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text().remove(QLatin1Char('&')), QStringLiteral("Alarme..."));
    auto* extras = Child<QMenu>(Window_.get(), "MenuExtras");
    ASSERT_NE(extras, nullptr);
    EXPECT_TRUE(extras->actions().contains(action));
    auto* page = Child<QWidget>(Window_.get(), "TabSheetAlerts");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(Window_->Pages()->tabText(Window_->Pages()->indexOf(page)), QStringLiteral("Alarme"));
    EXPECT_NE(Child<QTableView>(page, "ListViewAlerts"), nullptr);
    // The unreadable line was reported once, at the load.
    ASSERT_EQ(Errors_.size(), 1u);
    EXPECT_EQ(Errors_[0], "kavel.alerts: 1 unreadable line(s) kept unchanged, the first is line 3");
}

TEST_F(AlertsDialogTest, RulesAreSwitchedAddedEditedAndDeletedAndSavedAtOnce) {
    Start();
    AlertsDialog& dialog = Dialog();
    auto* rules = Child<QTableWidget>(&dialog, "ListViewAlertRules");
    ASSERT_NE(rules, nullptr);
    ASSERT_EQ(rules->rowCount(), 2);
    EXPECT_EQ(rules->item(0, 1)->text(), QStringLiteral("Fehler"));
    EXPECT_EQ(rules->item(1, 0)->text(), QStringLiteral("aus"));
    EXPECT_TRUE(Child<QLabel>(&dialog, "LabelAlertsUnread")->isVisibleTo(&dialog));
    EXPECT_FALSE(Child<QPushButton>(&dialog, "ButtonAlertToggle")->isEnabled());

    dialog.SelectRule(1);
    Child<QPushButton>(&dialog, "ButtonAlertToggle")->click();
    EXPECT_EQ(rules->item(1, 0)->text(), QStringLiteral("ein"));
    EXPECT_NE(
        ReadBytes(Home_ / "kavel.alerts").find("\r\nunlesbar\r\nStille;web;rate:below;1;2;10;1;notify;\r\n"),
        std::string::npos);

    AlertsDialog::SetRuleEditor([](QWidget*, const AlertRule& rule, const QStringList& servers) {
        EXPECT_EQ(servers, QStringList{QStringLiteral("web")});
        AlertRule edited = rule;
        edited.Name = rule.Name == "Neue Regel" ? "Angriff" : rule.Name + "2";
        edited.Condition = *ParseAlertCondition("match:page:/wp-login");
        return std::optional<AlertRule>(edited);
    });
    Child<QPushButton>(&dialog, "ButtonAlertAdd")->click();
    ASSERT_EQ(rules->rowCount(), 3);
    EXPECT_EQ(dialog.SelectedRule(), 2);
    EXPECT_EQ(rules->item(2, 1)->text(), QStringLiteral("Angriff"));
    Child<QPushButton>(&dialog, "ButtonAlertEdit")->click();
    EXPECT_EQ(rules->item(2, 1)->text(), QStringLiteral("Angriff2"));
    EXPECT_NE(
        ReadBytes(Home_ / "kavel.alerts").find("\r\nAngriff2;*;match:page:/wp-login;3;5;10;1;notify;\r\n"),
        std::string::npos);

    // Deleting asks first; No keeps the rule.
    dialog.SelectRule(0);
    MessageBox::SetNextAnswer(MessageBox::Answer::No);
    Child<QPushButton>(&dialog, "ButtonAlertDelete")->click();
    EXPECT_EQ(rules->rowCount(), 3);
    MessageBox::SetNextAnswer(MessageBox::Answer::Yes);
    Child<QPushButton>(&dialog, "ButtonAlertDelete")->click();
    EXPECT_EQ(rules->rowCount(), 2);
    EXPECT_EQ(MessageBox::Recorded().back().text,
              QStringLiteral("Soll die Regel \"Fehler\" gelöscht werden?"));
    const std::string file = ReadBytes(Home_ / "kavel.alerts");
    EXPECT_EQ(file.find("Fehler;"), std::string::npos);
    EXPECT_NE(file.find("\r\nunlesbar\r\n"), std::string::npos);
    EXPECT_EQ(Alerts().Monitor().Rules().size(), 2u);
}

TEST_F(AlertsDialogTest, TestenFiresTheActionsOnceWithASampleAccess) {
    Start();
    AlertsDialog& dialog = Dialog();
    dialog.SelectRule(0);
    Child<QPushButton>(&dialog, "ButtonAlertTest")->click();
    AlertLogModel& log = Alerts().Log();
    ASSERT_EQ(log.Size(), 1);
    EXPECT_EQ(log.At(0).Rule, QStringLiteral("Test: Fehler"));
    EXPECT_EQ(log.At(0).Server, QStringLiteral("web"));
    EXPECT_EQ(Child<QTableView>(&dialog, "ListViewAlertsFired")->model(), &log);
    // No notification service here: Kavel's popup shows it.
    ASSERT_TRUE(test::RunEventLoopUntil([&log] { return log.At(0).Done.size() == 2; }));
    EXPECT_TRUE(log.At(0).Done.contains(QStringLiteral("Meldung (Kavel-Fenster)")));
    EXPECT_TRUE(log.At(0).Done.contains(QStringLiteral("Signalton")));
    ASSERT_NE(Window_->Popup(), nullptr);
    EXPECT_EQ(Window_->Popup()->Headline(), QStringLiteral("Kavel-Alarm"));
    EXPECT_TRUE(Window_->Popup()->Message().startsWith(QStringLiteral("Test: Alarm Fehler auf web\n")));
    EXPECT_EQ(Tone_.Beeps(), (std::vector<platform::RecordingTone::Sound>{{1000, 100}, {500, 100}}));
}

TEST_F(AlertsDialogTest, ErrorsAppendedToTheLogRaiseTheAlertThroughTheTakeOver) {
    Start("Fehler;*;status:5xx;2;5;10;1;run;" + JoinCommandLine({KAVEL_RECORDER_PATH}) + " say 4 {page}\r\n");
    Server& server = Space().Servers()[0];
    const auto* reader = dynamic_cast<const LogReader*>(server.Thread());
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(test::RunEventLoopUntil([reader] { return reader->PassCount() > 0; }));
    // The 500 of the history does not count; two new ones do.
    kavel::test::AppendLog(Home_ / "access.log", NcsaNow(503, "/a") + NcsaNow(502, "/<b>x"));
    AlertLogModel& log = Alerts().Log();
    ASSERT_TRUE(test::RunEventLoopUntil(
        [&log] { return log.Size() > 0 && log.At(0).Result.startsWith(QStringLiteral("Exit")); }));
    EXPECT_EQ(log.Size(), 1);
    EXPECT_EQ(log.At(0).Rule, QStringLiteral("Fehler"));
    EXPECT_EQ(log.At(0).Count, 2u);
    EXPECT_EQ(log.At(0).Result, QStringLiteral("Exit-Status 4"));
    EXPECT_EQ(log.At(0).Output, QStringList{QStringLiteral("/<b>x")});
    EXPECT_EQ(log.data(log.index(0, AlertLogModel::Result), Qt::DisplayRole).toString(),
              QStringLiteral("Exit-Status 4: /<b>x"));
}

TEST(AlertRuleDialog, ControlsMakeTheRuleOrSayWhatIsWrong) {
    test::App();
    MessageBox::Reset();
    AlertRuleDialog dialog;
    const AlertRule original =
        *ParseAlertRule("Fehler;web;status:404;3;5;10;1;notify,run;/usr/bin/logger {page}");
    dialog.Prepare(original, {QStringLiteral("web"), QStringLiteral("shop")});
    const auto child = [&dialog](const char* name) {
        return dialog.findChild<QWidget*>(QString::fromLatin1(name));
    };
    for (const char* name : {"EditAlertName", "ComboAlertServer", "ComboAlertCondition", "EditAlertParameter",
                             "EditAlertThreshold", "EditAlertWindow", "EditAlertCooldown", "CheckAlertOn",
                             "CheckAlertNotify", "CheckAlertBeep", "CheckAlertRun", "EditAlertCommand",
                             "ButtonAlertRuleOk", "ButtonAlertRuleCancel"})
        EXPECT_NE(child(name), nullptr) << name;
    EXPECT_EQ(dialog.ServerBox()->count(), 3);
    EXPECT_EQ(dialog.ParameterEdit()->text(), QStringLiteral("404"));
    EXPECT_EQ(dialog.TakeOverValues(), original);

    dialog.ParameterEdit()->setText(QStringLiteral("40"));
    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    EXPECT_FALSE(dialog.TakeOverValues());
    dialog.ConditionBox()->setCurrentIndex(AlertRuleDialog::RateBelow);
    EXPECT_FALSE(dialog.ParameterEdit()->isEnabled());
    dialog.CommandEdit()->setText(QStringLiteral("/bin/echo a;b"));
    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    EXPECT_FALSE(dialog.TakeOverValues());
    EXPECT_EQ(MessageBox::Recorded().back().text,
              QStringLiteral("Ein \";\" im Befehl gehört in Anführungszeichen."));
    dialog.CommandEdit()->setText(QStringLiteral("/bin/echo \"a;b\""));
    dialog.ThresholdBox()->setValue(1);
    dialog.WindowBox()->setValue(2);
    const std::optional<AlertRule> silence = dialog.TakeOverValues();
    ASSERT_TRUE(silence);
    EXPECT_EQ(AlertRuleLine(*silence), "Fehler;web;rate:below;1;2;10;1;notify,run;/bin/echo \"a;b\"");
    MessageBox::Reset();
}

// A "match:" rule's value is a regular expression: the editor says so and refuses one that does
// not compile; a rule from the file whose pattern does not compile stays, shown as an error.
TEST_F(AlertsDialogTest, MatchRulesArePatternsAndABadOneIsShownAsAnError) {
    Start(std::string("# Alerts Definition File\r\n") +
          "Angriff;*;match:page:(wp-login;1;5;10;1;notify;\r\n" +
          "Gut;*;match:page:^/wp-(login|admin);1;5;10;1;notify;\r\n");
    AlertsDialog& dialog = Dialog();
    auto* rules = Child<QTableWidget>(&dialog, "ListViewAlertRules");
    ASSERT_EQ(rules->rowCount(), 2);
    EXPECT_EQ(rules->item(0, 3)->foreground().color(), QColor(Qt::red));
    EXPECT_NE(rules->item(0, 3)->toolTip().indexOf(QStringLiteral("missing )")), -1)
        << rules->item(0, 3)->toolTip().toStdString();
    EXPECT_EQ(rules->item(1, 3)->toolTip().indexOf(QStringLiteral("Muster")), -1);
    auto* note = Child<QLabel>(&dialog, "LabelAlertsUnread");
    EXPECT_TRUE(note->isVisibleTo(&dialog));
    EXPECT_TRUE(note->text().contains(QStringLiteral("1 Regel(n) mit ungültigem Muster")))
        << note->text().toStdString();

    AlertRuleDialog editor;
    editor.Prepare(Alerts().Rules()[1], {});
    EXPECT_EQ(editor.ConditionBox()->currentText(), QStringLiteral("Seite passt zu Muster"));
    editor.ParameterEdit()->setText(QStringLiteral("[unclosed"));
    MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
    EXPECT_FALSE(editor.TakeOverValues());
    EXPECT_TRUE(MessageBox::Recorded().back().text.startsWith(
        QStringLiteral("Das Muster ist kein gültiger regulärer Ausdruck: ")));
    editor.ParameterEdit()->setText(QStringLiteral("\\.php$"));
    EXPECT_TRUE(editor.TakeOverValues());
}

} // namespace
} // namespace kavel::ui
