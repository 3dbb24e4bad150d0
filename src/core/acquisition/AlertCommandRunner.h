#pragma once

#include "acquisition/FiredAlert.h"
#include "platform/ProcessRunner.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kavel {

// Runs the commands of alerts: each detached, killed after the time limit, and never more
// than one run per rule at a time (an alert of a rule whose command still runs runs nothing).
// A command that cannot be started or fails is reported once, never retried. The result of a
// run reaches the report on the main thread (through the dispatcher when one is installed).
class AlertCommandRunner {
public:
    // What Run did at once.
    enum class Start {
        Started,
        // The rule's command from an earlier alert still runs.
        Busy,
        // The rule has no command, or its quotes do not close.
        NoCommand,
        // It could not be started; the report has the reason.
        NotStarted,
    };
    using Report = std::function<void(std::uint64_t alertId, const platform::ProcessOutcome& outcome)>;

    explicit AlertCommandRunner(Report report);
    // Kills what still runs; no report follows.
    ~AlertCommandRunner();
    AlertCommandRunner(const AlertCommandRunner&) = delete;
    AlertCommandRunner& operator=(const AlertCommandRunner&) = delete;

    Start Run(const FiredAlert& alert);
    // Main thread: whether a command of the rule runs now.
    bool Running(const std::string& rule) const;
    void SetTimeLimit(std::chrono::milliseconds limit) { TimeLimit_ = limit; }

private:
    struct Shared;
    std::shared_ptr<Shared> Shared_;
    std::chrono::milliseconds TimeLimit_{30000};
    // Last: destroyed first, so that no watcher outlives what its callback uses.
    std::unique_ptr<platform::ProcessRunner> Runner_;
};

// "gestartet", "läuft noch, nicht erneut gestartet", "kein Befehl", "nicht gestartet".
std::string DescribeStart(AlertCommandRunner::Start start);

// The double tone of the readers' new-access signal.
void SoundAlertBeep();

} // namespace kavel
