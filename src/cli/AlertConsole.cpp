#include "AlertConsole.h"

#include "EntryFormat.h"
#include "acquisition/ProgramLifecycle.h"
#include "platform/Clock.h"

#include <cstdio>
#include <string_view>

namespace kavel::cli {

namespace {

class JsonObject {
public:
    JsonObject& Text(std::string_view key, std::string_view value) {
        Key(key);
        Out_ += '"';
        AppendJsonString(Out_, value);
        Out_ += '"';
        return *this;
    }
    JsonObject& Number(std::string_view key, std::int64_t value) {
        Key(key);
        Out_ += std::to_string(value);
        return *this;
    }
    JsonObject& Flag(std::string_view key, bool value) {
        Key(key);
        Out_ += value ? "true" : "false";
        return *this;
    }
    JsonObject& Raw(std::string_view key, std::string_view json) {
        Key(key);
        Out_ += json;
        return *this;
    }
    std::string Take() {
        Out_ += '}';
        return std::move(Out_);
    }

private:
    void Key(std::string_view key) {
        Out_ += Out_.size() > 1 ? ",\"" : "\"";
        Out_ += key;
        Out_ += "\":";
    }
    std::string Out_ = "{";
};

std::string JsonArray(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        out += i > 0 ? ",\"" : "\"";
        AppendJsonString(out, texts[i]);
        out += '"';
    }
    return out + "]";
}

} // namespace

std::string AlertText(const FiredAlert& alert) {
    std::string body = AlertBody(alert);
    for (std::size_t at = body.find('\n'); at != std::string::npos; at = body.find('\n', at))
        body.replace(at, 1, "; ");
    return EscapeField(AlertSummary(alert) + ": " + body);
}

std::string AlertJson(const FiredAlert& alert, const std::string& commandStart) {
    JsonObject json;
    json.Text("type", "alert").Number("id", static_cast<std::int64_t>(alert.Id));
    json.Text("rule", alert.Rule.Name).Text("server", alert.Server);
    json.Text("condition", AlertConditionText(alert.Rule.Condition));
    json.Number("threshold", alert.Rule.Threshold).Number("window_minutes", alert.Rule.WindowMinutes);
    json.Number("count", static_cast<std::int64_t>(alert.Count)).Text("time", FormatEntryTime(alert.Time));
    json.Text("summary", AlertSummary(alert)).Text("body", AlertBody(alert));
    if (alert.Access) {
        const AlertAccess& a = *alert.Access;
        JsonObject access;
        access.Text("time", FormatEntryTime(a.Time)).Text("address", a.Address).Text("host", a.HostName);
        access.Text("method", a.Method).Text("page", a.Page).Number("status", a.Status);
        json.Raw("access", access.Take());
    } else {
        json.Raw("access", "null");
    }
    json.Text("actions", AlertActionsText(alert.Rule.Actions));
    if (commandStart.empty())
        json.Raw("command", "null");
    else
        json.Text("command", commandStart);
    json.Flag("test", alert.Test);
    return json.Take();
}

AlertConsole::AlertConsole(Workspace& space, bool json)
    : Json_(json)
    , Monitor_(space, [this](const FiredAlert& alert) { Fire(alert); })
    , Commands_([this](std::uint64_t id, const platform::ProcessOutcome& outcome) {
        ReportCommand(id, outcome);
    }) {}

void AlertConsole::Load(ProgramLifecycle& lifecycle) {
    lifecycle.LoadAlerts(Rules_);
    Monitor_.SetRules(Rules_.Items());
    const std::vector<std::string> errors = Monitor_.PatternErrors();
    for (std::size_t i = 0; i < errors.size(); ++i)
        if (!errors[i].empty())
            std::fprintf(stderr, "kavel.alerts: %s: %s\n", EscapeField(Rules_[i].Name).c_str(),
                         EscapeField(errors[i]).c_str());
}

void AlertConsole::Observe(LogEntry& first) {
    Monitor_.Observe(first);
}

void AlertConsole::Tick() {
    Monitor_.Tick(platform::Now());
}

void AlertConsole::Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void AlertConsole::Fire(const FiredAlert& alert) {
    // The printed alert is the headless program's notification.
    if (alert.Rule.Actions.Beep)
        SoundAlertBeep();
    std::string start;
    if (alert.Rule.Actions.Run) {
        const AlertCommandRunner::Start started = Commands_.Run(alert);
        start = DescribeStart(started);
        if (started == AlertCommandRunner::Start::Started || started == AlertCommandRunner::Start::NotStarted)
            Running_[alert.Id] = {alert.Rule.Name, alert.Server};
    }
    if (Json_)
        Print(AlertJson(alert, start));
    else
        Print(AlertText(alert) + (start.empty() ? std::string() : " [Befehl " + start + "]"));
}

void AlertConsole::ReportCommand(std::uint64_t alertId, const platform::ProcessOutcome& outcome) {
    std::pair<std::string, std::string> names;
    if (const auto it = Running_.find(alertId); it != Running_.end()) {
        names = it->second;
        Running_.erase(it);
    }
    const std::string result = platform::DescribeOutcome(outcome);
    if (Json_) {
        JsonObject json;
        json.Text("type", "alert_command").Number("id", static_cast<std::int64_t>(alertId));
        json.Text("rule", names.first).Text("server", names.second).Text("result", result);
        if (outcome.Ending == platform::ProcessOutcome::End::Exited)
            json.Number("exit_code", outcome.ExitCode);
        json.Raw("output", JsonArray(outcome.Output));
        Print(json.Take());
        return;
    }
    Print(EscapeField("Alarm-Befehl " + names.first + " auf " + names.second + ": " + result));
    for (const std::string& line : outcome.Output)
        Print("  | " + EscapeField(line));
}

} // namespace kavel::cli
