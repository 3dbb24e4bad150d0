#include "ui/ServerEditorDialog.h"

#include "UiTestSupport.h"
#include "acquisition/Server.h"
#include "config/SettingsStore.h"
#include "ui/MessageBox.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

namespace kavel::ui {
namespace {

std::unique_ptr<SettingsStore> OptionsWith(std::int32_t revisitMinutes) {
    auto store = std::make_unique<SettingsStore>();
    store->AddItem("Options", "TimeDeleteAfter", SettingKind::Integer, std::int32_t{3});
    store->AddItem("Options", "TimeDeleteAfterUnit", SettingKind::Integer, std::int32_t{0});
    store->AddItem("Options", "TimeRevisitorAfterMinutes", SettingKind::Integer, revisitMinutes);
    store->AddItem("Options", "TimeLogPollCycleInMs", SettingKind::Integer, std::int32_t{5000});
    return store;
}

std::unique_ptr<Server> W3cServer() {
    auto server = std::make_unique<Server>();
    server->SetName("www.example.org");
    server->SetLogFileName("/var/log/ex%YY%MM%DD.log");
    server->SetLogType(LogFormat::W3c);
    server->SetW3cFields((1u << 0) | (1u << 2) | (1u << 21));
    server->SetTimeDeleteAfter(4);
    server->SetTimeDeleteAfterUnit(KeepUnit::Hours);
    server->SetTimeLogPollCycleInMs(7500);
    server->SetTimeZone(-2);
    server->SetTimeRevisitorAfterMinutes(6);
    server->SetSoundOnAccess(true);
    server->SetPopupOnDocument(false);
    return server;
}

class ServerEditorDialogTest : public testing::Test {
protected:
    ServerEditorDialogTest() {
        test::App();
        MessageBox::Reset();
    }
    ~ServerEditorDialogTest() override {
        ServerEditorDialog::SetFileChooser({});
        MessageBox::Reset();
    }

    // Before any widget.
    QApplication& App_ = test::App();
    std::unique_ptr<SettingsStore> Options_ = OptionsWith(10);
    ServerEditorDialog Dialog_;
};

TEST_F(ServerEditorDialogTest, NewServerStartsFromTheOptions) {
    Dialog_.Prepare(Options_.get());
    EXPECT_EQ(Dialog_.windowTitle(), QStringLiteral("Neuer Server - Server bearbeiten"));
    EXPECT_EQ(Dialog_.Pages()->currentIndex(), 0);
    EXPECT_TRUE(Dialog_.NameEdit()->text().isEmpty());
    EXPECT_TRUE(Dialog_.LogFileEdit()->text().isEmpty());
    EXPECT_FALSE(Dialog_.NcsaButton()->isChecked());
    EXPECT_FALSE(Dialog_.W3cButton()->isChecked());
    EXPECT_TRUE(Dialog_.DaysButton()->isChecked());
    EXPECT_EQ(Dialog_.DeleteAfterBox()->text(), QStringLiteral("3"));
    EXPECT_EQ(Dialog_.TimeZoneBox()->text(), QStringLiteral("0"));
    EXPECT_EQ(Dialog_.PollCycleBox()->text(), QStringLiteral("5"));
    EXPECT_EQ(Dialog_.RealtimeSlider()->minimum(), 1);
    EXPECT_EQ(Dialog_.RealtimeSlider()->maximum(), 10);
    EXPECT_EQ(Dialog_.RealtimeSlider()->value(), 10);
    EXPECT_EQ(Dialog_.RealtimeMaxLabel()->text(), QStringLiteral("10 min."));
    EXPECT_TRUE(Dialog_.PopupBox()->isChecked());
    EXPECT_FALSE(Dialog_.SoundBox()->isChecked());
    EXPECT_TRUE(Dialog_.BrowseButton()->isEnabled());
    EXPECT_FALSE(Dialog_.ReadyButton()->isEnabled());
}

TEST_F(ServerEditorDialogTest, RealtimeRangeFollowsTheOption) {
    const auto options = OptionsWith(30);
    Dialog_.Prepare(options.get());
    EXPECT_EQ(Dialog_.RealtimeSlider()->maximum(), 30);
    EXPECT_EQ(Dialog_.RealtimeMaxLabel()->text(), QStringLiteral("30 min."));
}

TEST_F(ServerEditorDialogTest, ReadyWaitsForLeavingThePageButNotForTheBrowseDialog) {
    Dialog_.Prepare(Options_.get());
    Dialog_.NameEdit()->setText(QStringLiteral("www.example.org"));
    Dialog_.NcsaButton()->setChecked(true);
    Dialog_.LogFileEdit()->setText(QStringLiteral("/var/log/access.log"));
    EXPECT_FALSE(Dialog_.ReadyButton()->isEnabled());
    Dialog_.UpdateReadyState();
    EXPECT_TRUE(Dialog_.ReadyButton()->isEnabled());

    Dialog_.LogFileEdit()->clear();
    Dialog_.UpdateReadyState();
    EXPECT_FALSE(Dialog_.ReadyButton()->isEnabled());
    ServerEditorDialog::SetFileChooser([](QWidget*, const QString& initial) -> std::optional<QString> {
        EXPECT_TRUE(initial.isEmpty());
        return QStringLiteral("/srv/log/chosen.log");
    });
    Dialog_.ChooseLogFile();
    EXPECT_EQ(Dialog_.LogFileEdit()->text(), QStringLiteral("/srv/log/chosen.log"));
    EXPECT_TRUE(Dialog_.ReadyButton()->isEnabled());

    ServerEditorDialog::SetFileChooser([](QWidget*, const QString&) { return std::optional<QString>(); });
    Dialog_.ChooseLogFile();
    EXPECT_EQ(Dialog_.LogFileEdit()->text(), QStringLiteral("/srv/log/chosen.log"));
}

TEST_F(ServerEditorDialogTest, EachRequiredTextIsNeeded) {
    struct Case {
        const char* name;
        QString serverName, file, period, poll;
        bool typeChosen;
        bool ready;
    };
    const QString a = QStringLiteral("a");
    const QString blank = QStringLiteral(" ");
    const Case cases[] = {
        {"all", a, a, a, a, true, true},           {"blanks count", blank, blank, blank, blank, true, true},
        {"no name", {}, a, a, a, true, false},     {"no file", a, {}, a, a, true, false},
        {"no type", a, a, a, a, false, false},     {"no period", a, a, {}, a, true, false},
        {"no interval", a, a, a, {}, true, false},
    };
    for (const Case& c : cases) {
        Dialog_.Prepare(Options_.get());
        Dialog_.NameEdit()->setText(c.serverName);
        Dialog_.LogFileEdit()->setText(c.file);
        Dialog_.DeleteAfterBox()->setText(c.period);
        Dialog_.PollCycleBox()->setText(c.poll);
        if (c.typeChosen)
            Dialog_.W3cButton()->setChecked(true);
        Dialog_.UpdateReadyState();
        EXPECT_EQ(Dialog_.ReadyButton()->isEnabled(), c.ready) << c.name;
    }
}

TEST_F(ServerEditorDialogTest, EditShowsTheDefinitionAndStoresItUnchanged) {
    auto server = W3cServer();
    Dialog_.SetEditedServer(server.get());
    Dialog_.Prepare(Options_.get());
    EXPECT_EQ(Dialog_.windowTitle(), QStringLiteral("www.example.org - Server bearbeiten"));
    EXPECT_FALSE(Dialog_.BrowseButton()->isEnabled());
    EXPECT_TRUE(Dialog_.LogFileEdit()->isEnabled());
    EXPECT_TRUE(Dialog_.W3cButton()->isChecked());
    EXPECT_TRUE(Dialog_.W3cFields()->isEnabled());
    for (int i = 0; i < W3cFieldCount; ++i)
        EXPECT_EQ(Dialog_.W3cFields()->item(i)->checkState() == Qt::Checked, i == 0 || i == 2 || i == 21)
            << i;
    EXPECT_TRUE(Dialog_.HoursButton()->isChecked());
    EXPECT_EQ(Dialog_.PollCycleBox()->text(), QStringLiteral("7"));
    EXPECT_EQ(Dialog_.TimeZoneBox()->text(), QStringLiteral("-2"));
    EXPECT_EQ(Dialog_.RealtimeSlider()->value(), 6);
    EXPECT_TRUE(Dialog_.SoundBox()->isChecked());
    EXPECT_FALSE(Dialog_.PopupBox()->isChecked());
    EXPECT_TRUE(Dialog_.ReadyButton()->isEnabled());

    Dialog_.LogFileEdit()->setText(QStringLiteral("/var/log/typed.log"));
    ASSERT_TRUE(Dialog_.TakeOverValues());
    EXPECT_EQ(server->TimeLogPollCycleInMs(), 7000);
    EXPECT_EQ(server->LogFileName(), "/var/log/typed.log");
    EXPECT_EQ(server->W3cFields(), (1u << 0) | (1u << 2) | (1u << 21));
    EXPECT_EQ(server->TimeDeleteAfterUnit(), KeepUnit::Hours);
    EXPECT_EQ(Dialog_.TakeNewServer(), nullptr);
}

TEST_F(ServerEditorDialogTest, NcsaServerShowsTheFieldListDisabled) {
    auto server = W3cServer();
    server->SetLogType(LogFormat::Ncsa);
    Dialog_.SetEditedServer(server.get());
    Dialog_.Prepare(Options_.get());
    EXPECT_TRUE(Dialog_.NcsaButton()->isChecked());
    EXPECT_FALSE(Dialog_.W3cFields()->isEnabled());
    // The field list of a new server is what the previous showing left.
    Dialog_.SetEditedServer(nullptr);
    Dialog_.Prepare(Options_.get());
    EXPECT_FALSE(Dialog_.W3cFields()->isEnabled());
    Dialog_.W3cButton()->click();
    EXPECT_TRUE(Dialog_.W3cFields()->isEnabled());
    Dialog_.NcsaButton()->click();
    EXPECT_FALSE(Dialog_.W3cFields()->isEnabled());
}

TEST_F(ServerEditorDialogTest, ConversionStopsAtTheFirstTextThatIsNoNumber) {
    struct Case {
        const char* name;
        QString period, poll, zone;
        std::int32_t wantPeriod, wantPoll, wantZone, wantRealtime;
    };
    // The edited server holds 4, 7500, -2 and 6; the slider is moved to 9.
    const Case cases[] = {
        {"all numbers", QStringLiteral("12"), QStringLiteral("10"), QStringLiteral("2"), 12, 10000, 2, 9},
        {"period", QStringLiteral("x"), QStringLiteral("10"), QStringLiteral("2"), 4, 7500, -2, 6},
        {"interval", QStringLiteral("12"), QStringLiteral("1.5"), QStringLiteral("2"), 12, 7500, -2, 6},
        {"zone", QStringLiteral("12"), QStringLiteral("10"), QStringLiteral(" 2"), 12, 10000, -2, 6},
    };
    for (const Case& c : cases) {
        auto server = W3cServer();
        Dialog_.SetEditedServer(server.get());
        Dialog_.Prepare(Options_.get());
        Dialog_.NameEdit()->setText(QStringLiteral("renamed"));
        Dialog_.NcsaButton()->setChecked(true);
        Dialog_.DaysButton()->setChecked(true);
        Dialog_.SoundBox()->setChecked(false);
        Dialog_.W3cFields()->item(5)->setCheckState(Qt::Checked);
        Dialog_.DeleteAfterBox()->setText(c.period);
        Dialog_.PollCycleBox()->setText(c.poll);
        Dialog_.TimeZoneBox()->setText(c.zone);
        Dialog_.RealtimeSlider()->setValue(9);
        ASSERT_TRUE(Dialog_.TakeOverValues()) << c.name;
        EXPECT_EQ(server->TimeDeleteAfter(), c.wantPeriod) << c.name;
        EXPECT_EQ(server->TimeLogPollCycleInMs(), c.wantPoll) << c.name;
        EXPECT_EQ(server->TimeZone(), c.wantZone) << c.name;
        EXPECT_EQ(server->TimeRevisitorAfterMinutes(), c.wantRealtime) << c.name;
        // Everything before the numbers is taken over whatever happens to them.
        EXPECT_EQ(server->Name(), "renamed") << c.name;
        EXPECT_EQ(server->LogType(), LogFormat::Ncsa) << c.name;
        EXPECT_EQ(server->TimeDeleteAfterUnit(), KeepUnit::Days) << c.name;
        EXPECT_FALSE(server->SoundOnAccess()) << c.name;
        EXPECT_TRUE(server->W3cField(5)) << c.name;
        Dialog_.SetEditedServer(nullptr);
    }
}

TEST_F(ServerEditorDialogTest, NewServerGetsDefaultsWhereTheConversionStopped) {
    Dialog_.Prepare(Options_.get());
    Dialog_.NameEdit()->setText(QStringLiteral("neu"));
    Dialog_.LogFileEdit()->setText(QStringLiteral("/var/log/neu.log"));
    Dialog_.NcsaButton()->setChecked(true);
    Dialog_.PollCycleBox()->setText(QStringLiteral("zehn"));
    ASSERT_TRUE(Dialog_.TakeOverValues());
    std::unique_ptr<Server> server = Dialog_.TakeNewServer();
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->Name(), "neu");
    EXPECT_EQ(server->TimeDeleteAfter(), 3);
    EXPECT_EQ(server->TimeLogPollCycleInMs(), Server().TimeLogPollCycleInMs());
}

TEST_F(ServerEditorDialogTest, TextsTheServersFileCannotHoldAreRefused) {
    const QString bad[] = {QStringLiteral("a;b"), QStringLiteral("a\nb"), QStringLiteral("a\rb")};
    for (const QString& text : bad) {
        for (const bool inName : {true, false}) {
            auto server = W3cServer();
            Dialog_.SetEditedServer(server.get());
            Dialog_.Prepare(Options_.get());
            (inName ? Dialog_.NameEdit() : Dialog_.LogFileEdit())->setText(text);
            MessageBox::SetNextAnswer(MessageBox::Answer::Ok);
            EXPECT_FALSE(Dialog_.TakeOverValues());
            ASSERT_EQ(MessageBox::Recorded().size(), 1u);
            EXPECT_EQ(MessageBox::Recorded()[0].kind, MessageBox::Kind::Warning);
            EXPECT_EQ(server->Name(), "www.example.org");
            EXPECT_EQ(server->LogFileName(), "/var/log/ex%YY%MM%DD.log");
            MessageBox::Reset();
        }
    }
    Dialog_.SetEditedServer(nullptr);
}

TEST_F(ServerEditorDialogTest, UpDownStepsInsideItsRange) {
    Dialog_.Prepare(Options_.get());
    Dialog_.DeleteAfterBox()->setText(QStringLiteral("100"));
    Dialog_.DeleteAfterBox()->StepBy(1);
    EXPECT_EQ(Dialog_.DeleteAfterBox()->text(), QStringLiteral("100"));
    Dialog_.TimeZoneBox()->setText(QStringLiteral("-23"));
    Dialog_.TimeZoneBox()->StepBy(-1);
    EXPECT_EQ(Dialog_.TimeZoneBox()->text(), QStringLiteral("-23"));
    Dialog_.PollCycleBox()->setText(QStringLiteral("5"));
    Dialog_.PollCycleBox()->StepBy(1);
    EXPECT_EQ(Dialog_.PollCycleBox()->text(), QStringLiteral("6"));
}

// "Fertigstellen" says why it is not available yet, in the words of the pages.
TEST_F(ServerEditorDialogTest, TheHintNextToTheButtonSaysWhatIsMissing) {
    Dialog_.Prepare(Options_.get());
    EXPECT_FALSE(Dialog_.ReadyButton()->isEnabled());
    EXPECT_EQ(Dialog_.ReadyHint()->text(),
              QStringLiteral("Noch anzugeben: Servername, Protokolldatei, Protokolltyp"));
    EXPECT_EQ(Dialog_.ReadyHint()->textFormat(), Qt::PlainText);
    Dialog_.NameEdit()->setText(QStringLiteral("www.example.org"));
    Dialog_.LogFileEdit()->setText(QStringLiteral("/var/log/access.log"));
    Dialog_.PollCycleBox()->setText(QString());
    Dialog_.UpdateReadyState();
    EXPECT_EQ(Dialog_.ReadyHint()->text(),
              QStringLiteral("Noch anzugeben: Protokolltyp, Aktualisierungsintervall"));
    Dialog_.NcsaButton()->setChecked(true);
    Dialog_.PollCycleBox()->setText(QStringLiteral("5"));
    Dialog_.UpdateReadyState();
    EXPECT_TRUE(Dialog_.ReadyButton()->isEnabled());
    EXPECT_TRUE(Dialog_.ReadyHint()->text().isEmpty());
}

// At its size when it opens, every tab reads in full and the arrows of a number box sit at
// its field.
TEST_F(ServerEditorDialogTest, TabsAreNotCutAndTheArrowsSitAtTheirField) {
    Dialog_.Prepare(Options_.get());
    Dialog_.show();
    QApplication::processEvents();
    const QTabBar* tabs = Dialog_.Pages()->tabBar();
    int needed = 0;
    for (int i = 0; i < tabs->count(); ++i)
        needed += tabs->tabRect(i).width();
    EXPECT_LE(needed, tabs->width());
    for (int i = 0; i < tabs->count(); ++i)
        EXPECT_GE(tabs->tabRect(i).width(), tabs->fontMetrics().horizontalAdvance(tabs->tabText(i))) << i;
    for (NumberBox* box : {Dialog_.DeleteAfterBox(), Dialog_.TimeZoneBox(), Dialog_.PollCycleBox()}) {
        SCOPED_TRACE(box->objectName().toStdString());
        for (int i = 0; i < Dialog_.Pages()->count(); ++i)
            if (Dialog_.Pages()->widget(i)->isAncestorOf(box))
                Dialog_.Pages()->setCurrentIndex(i);
        QApplication::processEvents();
        const QRect field = box->Edit()->geometry();
        const QList<QToolButton*> arrows = box->findChildren<QToolButton*>();
        ASSERT_EQ(arrows.size(), 2);
        for (const QToolButton* arrow : arrows) {
            EXPECT_EQ(arrow->geometry().left(), field.right() + 1);
            EXPECT_GE(arrow->geometry().top(), field.top());
            EXPECT_LE(arrow->geometry().bottom(), field.bottom());
            EXPECT_FALSE(arrow->accessibleName().isEmpty());
        }
    }
}

} // namespace
} // namespace kavel::ui
