#pragma once

#include "acquisition/AlertCommandRunner.h"
#include "acquisition/AlertMonitor.h"
#include "parsing/AlertRules.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>

class QAction;
class QTableView;

namespace kavel {
class LogEntry;
class ProgramLifecycle;
class Server;
} // namespace kavel

namespace kavel::ui {

class AlertLogModel;
class AlertNotifier;
class AlertsDialog;
class MainWindow;

// The alerts of the desktop program: the rules of kavel.alerts checked as the window takes the
// accesses over and, once a second, by the clock; each alert listed on the page "Alarme" and
// shown as the rule says (desktop notification with its fallbacks, the double tone, the
// command). Adds "Alarme..." to the Extras menu, which opens the dialog that edits the rules;
// every change is saved at once. The window calls it at the take-over, at the first idle
// moment and before a server goes. Main thread only.
class AlertsController final : public QObject {
public:
    explicit AlertsController(MainWindow& window);
    ~AlertsController() override;

    // The first idle moment, after the servers: reads kavel.alerts (through the lifecycle,
    // which reports unreadable lines; directly when there is none).
    void Load(ProgramLifecycle* lifecycle);
    // The take-over, before the lists show the entries.
    void Observe(LogEntry& first);
    void ForgetServer(const Server& server);

    // The dialog's changes: applied to the checks and saved; false (after a message) when the
    // file could not be written, the change then lasts for this run.
    const AlertRuleList& Rules() const { return Rules_; }
    bool AddRule(AlertRule rule);
    bool ReplaceRule(std::size_t index, AlertRule rule);
    bool SetRuleOn(std::size_t index, bool on);
    bool RemoveRule(std::size_t index);
    // "Testen": the rule's actions once, with a sample access.
    void TestRule(std::size_t index);
    // The names of the servers, for the rule editor.
    QStringList ServerNames() const;

    AlertsDialog& Dialog();
    QAction* Action() const { return Action_; }
    QTableView* LogView() const { return LogView_; }
    AlertLogModel& Log() { return *Log_; }
    AlertMonitor& Monitor() { return Monitor_; }
    AlertCommandRunner& Commands() { return *Commands_; }
    AlertNotifier& Notifier() { return *Notifier_; }
    QTimer& ClockTimer() { return Clock_; }

private:
    void Fire(const FiredAlert& alert);
    bool Apply();
    void CommandEnded(std::uint64_t alertId, const platform::ProcessOutcome& outcome);

    MainWindow& Window_;
    AlertRuleList Rules_;
    AlertMonitor Monitor_;
    AlertLogModel* Log_ = nullptr;
    AlertNotifier* Notifier_ = nullptr;
    QAction* Action_ = nullptr;
    QTableView* LogView_ = nullptr;
    AlertsDialog* Dialog_ = nullptr;
    QTimer Clock_;
    // Last: its watchers report into what is above.
    std::unique_ptr<AlertCommandRunner> Commands_;
};

} // namespace kavel::ui
