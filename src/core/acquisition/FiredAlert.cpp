#include "acquisition/FiredAlert.h"

#include "acquisition/EntryQueue.h"
#include "base/LineBlocks.h"
#include "platform/LocaleFormat.h"

#include <cstdio>

namespace kavel {

namespace {

// The form scripts read: independent of the desktop's locale.
std::string StableTime(DateTime time) {
    const DateParts p = DecodeDateTime(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                  p.Minute, p.Second);
    return text;
}

std::string Minutes(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " Minute" : " Minuten");
}

std::string Accesses(std::uint64_t n) {
    return std::to_string(n) + (n == 1 ? " Zugriff" : " Zugriffe");
}

} // namespace

std::string AlertWhatHappened(const FiredAlert& alert) {
    const AlertRule& rule = alert.Rule;
    const AlertCondition& condition = rule.Condition;
    const std::string window = " in " + Minutes(rule.WindowMinutes);
    switch (condition.Kind) {
    case AlertConditionKind::Status:
        return Accesses(alert.Count) + " mit Status " +
               (condition.StatusClass != 0 ? std::to_string(condition.StatusClass) + "xx"
                                           : std::to_string(condition.StatusCode)) +
               window;
    case AlertConditionKind::Exception: {
        std::string codes;
        for (const std::int32_t code : condition.ExceptionCodes)
            codes += (codes.empty() ? "" : ", ") + std::to_string(code);
        return std::to_string(alert.Count) + (alert.Count == 1 ? " Ausnahme" : " Ausnahmen") + " (Code " +
               codes + ")" + window;
    }
    case AlertConditionKind::RateAbove:
        return Accesses(alert.Count) + window + " (Schwelle " + std::to_string(rule.Threshold) + ")";
    case AlertConditionKind::RateBelow:
        return "Nur " + Accesses(alert.Count) + window + " (weniger als " + std::to_string(rule.Threshold) +
               ")";
    case AlertConditionKind::MatchAddress:
        return Accesses(alert.Count) + " von Adressen passend zu \"" + condition.Pattern + "\"" + window;
    case AlertConditionKind::MatchPage:
        return Accesses(alert.Count) + " auf Seiten passend zu \"" + condition.Pattern + "\"" + window;
    case AlertConditionKind::ReaderMissing:
        return "Protokolldatei fehlt oder ist nicht lesbar seit " +
               Minutes(static_cast<std::int64_t>(alert.Count));
    }
    return {};
}

AlertAccess AlertAccessOf(const LogEntry& entry) {
    AlertAccess access;
    access.Time = entry.Time;
    if (const AccessRecord* record = entry.Access()) {
        const LinePin pin(entry);
        access.Address = std::string(record->Address());
        access.HostName = std::string(record->HostName());
        access.Method = std::string(record->Method());
        access.Page = std::string(record->Page());
        access.Status = record->Status;
    }
    return access;
}

FiredAlert SampleAlert(const AlertRule& rule, std::string server, DateTime now) {
    FiredAlert alert;
    alert.Rule = rule;
    alert.Server = std::move(server);
    alert.Time = now;
    alert.Test = true;
    alert.Count = static_cast<std::uint64_t>(rule.Threshold);
    const AlertConditionKind kind = rule.Condition.Kind;
    if (kind == AlertConditionKind::ReaderMissing) {
        alert.Count = static_cast<std::uint64_t>(rule.WindowMinutes);
        return alert;
    }
    if (kind == AlertConditionKind::RateBelow) {
        alert.Count = 0;
        return alert;
    }
    AlertAccess access;
    access.Time = now;
    access.Address = "192.0.2.1";
    access.HostName = access.Address;
    access.Method = "GET";
    access.Page = "/kavel-alarmtest.html";
    access.Status = 200;
    if (kind == AlertConditionKind::Status)
        access.Status =
            rule.Condition.StatusClass != 0 ? rule.Condition.StatusClass * 100 : rule.Condition.StatusCode;
    alert.Access = access;
    return alert;
}

std::string AlertSummary(const FiredAlert& alert) {
    return (alert.Test ? "Test: Alarm " : "Alarm ") + alert.Rule.Name + " auf " + alert.Server;
}

std::string AlertBody(const FiredAlert& alert) {
    std::string body = AlertWhatHappened(alert);
    if (alert.Access) {
        const AlertAccess& a = *alert.Access;
        body += "\nNeuester Zugriff: " + platform::FormatDateTime(a.Time) + " " + a.Address + " " + a.Method +
                " " + a.Page + " " + std::to_string(a.Status);
    }
    return body;
}

PlaceholderValues AlertPlaceholders(const FiredAlert& alert) {
    const bool access = alert.Access.has_value();
    return {
        {"rule", alert.Rule.Name},
        {"server", alert.Server},
        {"count", std::to_string(alert.Count)},
        {"time", StableTime(alert.Time)},
        {"address", access ? alert.Access->Address : std::string()},
        {"page", access ? alert.Access->Page : std::string()},
        {"status", access ? std::to_string(alert.Access->Status) : std::string()},
    };
}

std::vector<std::pair<std::string, std::string>> AlertEnvironment(const FiredAlert& alert) {
    std::vector<std::pair<std::string, std::string>> environment;
    for (auto& [name, value] : AlertPlaceholders(alert)) {
        std::string variable = "KAVEL_";
        for (const char c : name)
            variable += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        environment.emplace_back(std::move(variable), ArgumentSafe(value));
    }
    return environment;
}

std::optional<platform::ProcessRequest> AlertProcessRequest(const FiredAlert& alert) {
    const std::optional<std::vector<std::string>> words = SplitCommandLine(alert.Rule.Command);
    if (!words || words->empty())
        return std::nullopt;
    platform::ProcessRequest request;
    request.Program = words->front();
    const PlaceholderValues values = AlertPlaceholders(alert);
    for (std::size_t i = 1; i < words->size(); ++i)
        request.Arguments.push_back(FillPlaceholders((*words)[i], values));
    request.Environment = AlertEnvironment(alert);
    return request;
}

} // namespace kavel
