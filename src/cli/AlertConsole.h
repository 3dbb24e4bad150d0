#pragma once

#include "acquisition/AlertCommandRunner.h"
#include "acquisition/AlertMonitor.h"
#include "parsing/AlertRules.h"

#include <cstdint>
#include <map>
#include <string>

namespace kavel {
class LogEntry;
class ProgramLifecycle;
class Workspace;
} // namespace kavel

namespace kavel::cli {

// The alerts of "kavel-cli watch": the rules of kavel.alerts checked as the watcher takes the
// accesses over and by the clock; each alert printed on standard error (a line for a person,
// or a JSON object), its double tone on the terminal's bell, its command run as the desktop
// program runs it, and the command's result printed when it ends. Main thread only; destroy it
// before the dispatcher.
class AlertConsole {
public:
    AlertConsole(Workspace& space, bool json);

    // Reads kavel.alerts (after the servers).
    void Load(ProgramLifecycle& lifecycle);
    // The take-over, before the entries are printed.
    void Observe(LogEntry& first);
    // The clock's turn: silence and missing logs.
    void Tick();

    std::size_t RuleCount() const { return Rules_.Count(); }
    AlertMonitor& Monitor() { return Monitor_; }
    AlertCommandRunner& Commands() { return Commands_; }

private:
    void Fire(const FiredAlert& alert);
    void Print(const std::string& line);
    void ReportCommand(std::uint64_t alertId, const platform::ProcessOutcome& outcome);

    bool Json_;
    AlertRuleList Rules_;
    AlertMonitor Monitor_;
    // Rule name and server of each alert whose command runs, for its result line.
    std::map<std::uint64_t, std::pair<std::string, std::string>> Running_;
    AlertCommandRunner Commands_;
};

// The alert as one line for a person ("Alarm <rule> auf <server>: ..."), control bytes escaped.
std::string AlertText(const FiredAlert& alert);
// The alert as a JSON object without line end; start says what became of its command.
std::string AlertJson(const FiredAlert& alert, const std::string& commandStart);

} // namespace kavel::cli
