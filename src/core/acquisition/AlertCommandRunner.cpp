#include "acquisition/AlertCommandRunner.h"

#include "acquisition/LogReader.h"
#include "platform/Dispatcher.h"
#include "platform/Tone.h"

#include <map>
#include <mutex>

namespace kavel {

// What the watcher threads' callbacks reach; it outlives the runner while a posted result waits.
struct AlertCommandRunner::Shared {
    std::mutex Lock;
    // Per rule that runs its command, the alert whose run it is.
    std::map<std::string, std::uint64_t> Running;
    bool Alive = true;
    Report ReportResult;

    void Finish(const std::string& rule, std::uint64_t alertId, const platform::ProcessOutcome& outcome) {
        Report report;
        {
            std::lock_guard lock(Lock);
            if (!Alive)
                return;
            if (const auto it = Running.find(rule); it != Running.end() && it->second == alertId)
                Running.erase(it);
            report = ReportResult;
        }
        if (report)
            report(alertId, outcome);
    }
};

AlertCommandRunner::AlertCommandRunner(Report report)
    : Shared_(std::make_shared<Shared>())
    , Runner_(std::make_unique<platform::ProcessRunner>()) {
    Shared_->ReportResult = std::move(report);
}

AlertCommandRunner::~AlertCommandRunner() {
    {
        std::lock_guard lock(Shared_->Lock);
        Shared_->Alive = false;
    }
    Runner_.reset();
}

bool AlertCommandRunner::Running(const std::string& rule) const {
    std::lock_guard lock(Shared_->Lock);
    return Shared_->Running.count(rule) > 0;
}

AlertCommandRunner::Start AlertCommandRunner::Run(const FiredAlert& alert) {
    std::optional<platform::ProcessRequest> request = AlertProcessRequest(alert);
    if (!request)
        return Start::NoCommand;
    const std::string rule = alert.Rule.Name;
    {
        std::lock_guard lock(Shared_->Lock);
        if (!Shared_->Running.emplace(rule, alert.Id).second)
            return Start::Busy;
    }
    request->TimeLimit = TimeLimit_;
    const std::uint64_t id = alert.Id;
    std::weak_ptr<Shared> shared = Shared_;
    const bool started =
        Runner_->Start(std::move(*request), [shared, rule, id](platform::ProcessOutcome outcome) {
            const std::shared_ptr<Shared> state = shared.lock();
            if (!state || outcome.Ending == platform::ProcessOutcome::End::Abandoned)
                return;
            // The main thread owns what the report shows.
            if (platform::HasMainDispatcher())
                platform::MainDispatcher().Post(
                    [state, rule, id, outcome = std::move(outcome)] { state->Finish(rule, id, outcome); });
            else
                state->Finish(rule, id, outcome);
        });
    if (!started) {
        std::lock_guard lock(Shared_->Lock);
        if (const auto it = Shared_->Running.find(rule); it != Shared_->Running.end() && it->second == id)
            Shared_->Running.erase(it);
        return Start::NotStarted;
    }
    return Start::Started;
}

std::string DescribeStart(AlertCommandRunner::Start start) {
    switch (start) {
    case AlertCommandRunner::Start::Started:
        return "gestartet";
    case AlertCommandRunner::Start::Busy:
        return "läuft noch, nicht erneut gestartet";
    case AlertCommandRunner::Start::NoCommand:
        return "kein Befehl";
    case AlertCommandRunner::Start::NotStarted:
        return "nicht gestartet";
    }
    return {};
}

void SoundAlertBeep() {
    platform::Tone& tone = platform::CurrentTone();
    tone.Beep(PopupBeepHighHz, PopupBeepMs);
    tone.Beep(PopupBeepLowHz, PopupBeepMs);
}

} // namespace kavel
