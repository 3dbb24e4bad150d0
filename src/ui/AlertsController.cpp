#include "ui/AlertsController.h"

#include "acquisition/ProgramLifecycle.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "platform/Clock.h"
#include "platform/LocaleFormat.h"
#include "ui/AlertLogModel.h"
#include "ui/AlertNotifier.h"
#include "ui/AlertsDialog.h"
#include "ui/DisplayText.h"
#include "ui/IconSet.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/TrayControl.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <exception>

namespace kavel::ui {

namespace {

QString Summary(const FiredAlert& alert) {
    return DisplayText(AlertSummary(alert));
}

// The body for a person: the system's own words as UTF-8, the log's bytes made safe each.
QString Body(const FiredAlert& alert) {
    QString body = DisplayText(AlertWhatHappened(alert));
    if (alert.Access) {
        const AlertAccess& a = *alert.Access;
        body += QStringLiteral("\nNeuester Zugriff: ") +
                QString::fromStdString(platform::FormatDateTime(a.Time)) + QLatin1Char(' ') +
                DisplayText(a.Address) + QLatin1Char(' ') + DisplayText(a.Method) + QLatin1Char(' ') +
                DisplayText(a.Page) + QLatin1Char(' ') + QString::number(a.Status);
    }
    return body;
}

} // namespace

AlertsController::AlertsController(MainWindow& window)
    : Window_(window)
    , Monitor_(window.Space(), [this](const FiredAlert& alert) { Fire(alert); })
    , Commands_(std::make_unique<AlertCommandRunner>(
          [this](std::uint64_t id, const platform::ProcessOutcome& outcome) { CommandEnded(id, outcome); })) {
    Log_ = new AlertLogModel(this);
    Notifier_ =
        new AlertNotifier({[this](const QString& summary, const QString& body) {
                               TrayControl* tray = Window_.Tray();
                               if (tray == nullptr || !tray->InTray() || tray->Icon() == nullptr ||
                                   !QSystemTrayIcon::supportsMessages())
                                   return false;
                               tray->Icon()->showMessage(summary, body, QSystemTrayIcon::Warning, 10000);
                               return true;
                           },
                           [this](const QString& summary, const QString& body) {
                               // The popup takes its text as lines joined by CR LF.
                               QString text = summary + QLatin1Char('\n') + body;
                               text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
                               Window_.ShowIconPopup(text.toStdString(), "Alarm", Icon::SuspiciousStatus);
                           }},
                          this);

    // The page "Alarme": the alerts of this run as they come.
    auto* page = new QWidget(Window_.Pages());
    page->setObjectName(QStringLiteral("TabSheetAlerts"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    LogView_ = new QTableView(page);
    LogView_->setObjectName(QStringLiteral("ListViewAlerts"));
    LogView_->setAccessibleName(QStringLiteral("Alarme"));
    LogView_->setModel(Log_);
    LogView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    LogView_->setWordWrap(false);
    LogView_->verticalHeader()->hide();
    SetAlertLogColumnWidths(LogView_);
    pageLayout->addWidget(LogView_);
    Window_.Pages()->addTab(page, IconFor(Icon::SuspiciousStatus), QStringLiteral("Alarme"));

    Action_ = new QAction(IconFor(Icon::SuspiciousStatus), QStringLiteral("Ala&rme..."), &Window_);
    Action_->setObjectName(QStringLiteral("ActionMenuExtrasAlerts"));
    Action_->setToolTip(QStringLiteral("Alarmregeln bearbeiten"));
    Action_->setStatusTip(QStringLiteral("Alarmregeln bearbeiten"));
    if (auto* extras = Window_.findChild<QMenu*>(QStringLiteral("MenuExtras"))) {
        extras->addSeparator();
        extras->addAction(Action_);
    }
    connect(Action_, &QAction::triggered, this, [this] {
        AlertsDialog& dialog = Dialog();
        dialog.Prepare();
        dialog.exec();
    });

    Clock_.setInterval(1000);
    Clock_.callOnTimeout(this, [this] { Monitor_.Tick(platform::Now()); });
    Clock_.start();
}

AlertsController::~AlertsController() {
    Clock_.stop();
    // What still runs is killed before the log and the notifier go.
    Commands_.reset();
}

AlertsDialog& AlertsController::Dialog() {
    if (Dialog_ == nullptr)
        Dialog_ = new AlertsDialog(*this, &Window_);
    return *Dialog_;
}

void AlertsController::Load(ProgramLifecycle* lifecycle) {
    if (lifecycle != nullptr) {
        lifecycle->LoadAlerts(Rules_);
    } else {
        try {
            LoadAlertRules(Window_.Space().DefinitionFile(".alerts"), Rules_);
        } catch (const std::exception&) {
            // Left unloaded: the file is not written over.
        }
    }
    Monitor_.SetRules(Rules_.Items());
}

void AlertsController::Observe(LogEntry& first) {
    Monitor_.Observe(first);
}

void AlertsController::ForgetServer(const Server& server) {
    Monitor_.ForgetServer(server);
}

QStringList AlertsController::ServerNames() const {
    QStringList names;
    for (const auto& server : Window_.Space().Servers())
        names.push_back(QString::fromStdString(server->Name()));
    return names;
}

bool AlertsController::Apply() {
    Monitor_.SetRules(Rules_.Items());
    if (!Rules_.Loaded()) {
        MessageBox::Error(&Window_,
                          QStringLiteral("Die Datei kavel.alerts konnte beim Start nicht gelesen werden "
                                         "und wird nicht überschrieben; die Änderung gilt nur bis zum "
                                         "Ende des Programms."));
        return false;
    }
    try {
        SaveAlertRules(Window_.Space().DefinitionFile(".alerts"), Rules_);
        return true;
    } catch (const std::exception& error) {
        MessageBox::Error(&Window_, QStringLiteral("Die Alarme konnten nicht gespeichert werden: ") +
                                        DisplayText(error.what()));
        return false;
    }
}

bool AlertsController::AddRule(AlertRule rule) {
    Rules_.Add(std::move(rule));
    return Apply();
}

bool AlertsController::ReplaceRule(std::size_t index, AlertRule rule) {
    Rules_.Replace(index, std::move(rule));
    return Apply();
}

bool AlertsController::SetRuleOn(std::size_t index, bool on) {
    Rules_.SetOn(index, on);
    return Apply();
}

bool AlertsController::RemoveRule(std::size_t index) {
    Rules_.Remove(index);
    return Apply();
}

void AlertsController::TestRule(std::size_t index) {
    if (index >= Rules_.Count())
        return;
    const AlertRule& rule = Rules_[index];
    std::string server = rule.Server;
    if (rule.AllServers() && Window_.Space().Servers().Count() > 0)
        server = Window_.Space().Servers()[0].Name();
    FiredAlert alert = SampleAlert(rule, server, platform::Now());
    alert.Id = Monitor_.TakeAlertId();
    Fire(alert);
}

void AlertsController::Fire(const FiredAlert& alert) {
    const QString summary = Summary(alert);
    const QString body = Body(alert);
    Log_->Add(alert, summary, body);
    const std::uint64_t id = alert.Id;
    const AlertActions& actions = alert.Rule.Actions;
    if (actions.Notify)
        Notifier_->Notify(summary, body, [this, id](NotificationRoute route) {
            Log_->AddDone(id, QStringLiteral("Meldung (") + RouteText(route) + QLatin1Char(')'));
        });
    if (actions.Beep) {
        SoundAlertBeep();
        Log_->AddDone(id, QStringLiteral("Signalton"));
    }
    if (actions.Run) {
        const AlertCommandRunner::Start start = Commands_->Run(alert);
        Log_->AddDone(id, QStringLiteral("Befehl"));
        Log_->SetCommand(id, DisplayText(alert.Rule.Command));
        if (start == AlertCommandRunner::Start::Started)
            Log_->SetResult(id, QStringLiteral("läuft"));
        else if (start != AlertCommandRunner::Start::NotStarted)
            Log_->SetResult(id, QString::fromStdString(DescribeStart(start)));
    }
}

void AlertsController::CommandEnded(std::uint64_t alertId, const platform::ProcessOutcome& outcome) {
    QStringList output;
    for (const std::string& line : outcome.Output)
        output.push_back(DisplayText(line));
    Log_->SetResult(alertId, QString::fromStdString(platform::DescribeOutcome(outcome)), output);
}

} // namespace kavel::ui
