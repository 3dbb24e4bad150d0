#pragma once

#include "acquisition/FiredAlert.h"
#include "parsing/AlertRules.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kavel {

class Workspace;

class LogEntry;
class Server;

// Checks the alert rules against the accesses the main thread takes over, and against the
// clock for silence and missing logs. Each rule is judged per server (a rule for "*" once for
// every server), with its own minute counters, so a taken-over access costs one look at each
// rule that applies to its server, whatever the window's length or the queue's size.
//
// Only accesses that arrive after their reader's first pass count: the history read at start
// is old news. They count in the minute in which they are taken over, by the clock, so a log
// whose time stamps are off still alerts when things happen. A rule that fires is silent for
// its cool-down; a clock-judged rule fires when its state begins and, while it lasts, again
// after each cool-down (a cool-down of 0: once per episode). Main thread only.
class AlertMonitor {
public:
    using Fire = std::function<void(const FiredAlert& alert)>;
    // Whether the server's reader finished its first pass; the default asks the reader.
    using FirstPassCheck = std::function<bool(const Server& server)>;

    // Watches the workspace's entries and servers.
    AlertMonitor(Workspace& space, Fire fire);
    ~AlertMonitor();
    AlertMonitor(const AlertMonitor&) = delete;
    AlertMonitor& operator=(const AlertMonitor&) = delete;

    // Rules that did not change keep their counters and cool-downs; the others start afresh.
    // A "match:" rule whose pattern does not compile never fires (PatternErrors says why).
    void SetRules(const std::vector<AlertRule>& rules);
    const std::vector<AlertRule>& Rules() const;
    // Per rule, the pattern engine's message, or empty.
    std::vector<std::string> PatternErrors() const;

    // The take-over: the entries from first on (following Next). An entry is looked at once
    // however often it is handed in (the realtime view hands its new entries in again).
    void Observe(LogEntry& first);
    // One entry at now, counted whether it was seen before or not; firstPassDone tells whether
    // its reader had finished its first pass.
    void ObserveEntry(const LogEntry& entry, DateTime now, bool firstPassDone);
    // The clock's turn (every second or so): silence and missing logs, and the servers'
    // names (a renamed server is judged by the rules of its new name).
    void Tick(DateTime now);
    // Before a server is destroyed.
    void ForgetServer(const Server& server);

    void SetFirstPassCheck(FirstPassCheck check);
    // An id for an alert raised by hand, from the same series as the rules' alerts.
    std::uint64_t TakeAlertId() { return NextId_++; }

private:
    struct RuleState;
    struct PairState;
    struct ServerSlot;

    ServerSlot& SlotFor(const Server& server);
    void Rescope(ServerSlot& slot);
    bool FirstPassDone(const Server& server) const;
    void Count(ServerSlot& slot, const LogEntry& entry, DateTime now, bool firstPassDone);
    void FireAlert(const RuleState& rule, PairState& pair, const ServerSlot& slot, std::uint64_t count,
                   DateTime now, std::optional<AlertAccess> access);
    void JudgeByClock(ServerSlot& slot, const Server& server, DateTime now);

    Workspace& Space_;
    Fire Fire_;
    FirstPassCheck FirstPassCheck_;
    std::vector<RuleState> Rules_;
    std::vector<AlertRule> RuleDefinitions_;
    std::vector<std::unique_ptr<ServerSlot>> Slots_;
    std::unordered_map<const Server*, ServerSlot*> SlotIndex_;
    ServerSlot* LastSlot_ = nullptr;
    std::uint64_t NextId_ = 1;
    std::uint64_t TickCount_ = 0;
};

} // namespace kavel
