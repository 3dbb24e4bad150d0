#pragma once

#include "base/CommandLine.h"
#include "parsing/AlertRules.h"
#include "platform/DateTime.h"
#include "platform/ProcessRunner.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavel {

class LogEntry;

// The newest access that counted towards an alert, copied out of the queue: the alert
// outlives the entry.
struct AlertAccess {
    DateTime Time;
    std::string Address;
    std::string HostName;
    std::string Method;
    std::string Page;
    std::int32_t Status = 0;
};
AlertAccess AlertAccessOf(const LogEntry& entry);

// One alert as a rule raised it: what the actions show and run.
struct FiredAlert {
    // Counts the alerts of a run from 1, so that a command's result finds its alert.
    std::uint64_t Id = 0;
    // The rule as it was when it fired.
    AlertRule Rule;
    std::string Server;
    // Accesses within the window (a missing log: the minutes it has been missing).
    std::uint64_t Count = 0;
    // When it fired, by the clock.
    DateTime Time;
    // None for silence and a missing log.
    std::optional<AlertAccess> Access;
    // Raised by hand ("Testen") with a sample access.
    bool Test = false;
};

// The alert that "Testen" raises for a rule: a sample access of the rule's server (the first
// server for "*"), the threshold as count.
FiredAlert SampleAlert(const AlertRule& rule, std::string server, DateTime now);

// "Alarm <rule> auf <server>" ("Test: ..." for a test): what a notification's summary says.
std::string AlertSummary(const FiredAlert& alert);
// What happened: "3 Zugriffe mit Status 5xx in 5 Minuten", "Nur 0 Zugriffe in 2 Minuten
// (weniger als 1)", ...
std::string AlertWhatHappened(const FiredAlert& alert);
// What happened, and the newest access as "Neuester Zugriff: <time> <address> <method> <page>
// <status>"; lines separated by LF. Log bytes as they are: the caller shows them as plain text.
std::string AlertBody(const FiredAlert& alert);

// The values of the command's placeholders: rule, server, count, time ("YYYY-MM-DD
// HH:MM:SS"), address, page, status (empty without an access).
PlaceholderValues AlertPlaceholders(const FiredAlert& alert);
// The environment variables that carry the same values: KAVEL_RULE, KAVEL_SERVER, KAVEL_COUNT,
// KAVEL_TIME, KAVEL_ADDRESS, KAVEL_PAGE, KAVEL_STATUS.
std::vector<std::pair<std::string, std::string>> AlertEnvironment(const FiredAlert& alert);

// The program to start for the alert: the rule's command split into words, the placeholders
// filled inside the arguments (never in the program's name, which log text must not choose),
// the environment set. Nothing when the command is empty or does not split.
std::optional<platform::ProcessRequest> AlertProcessRequest(const FiredAlert& alert);

} // namespace kavel
