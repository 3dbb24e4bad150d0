#pragma once

#include "base/DefinitionFile.h"
#include "base/TextPattern.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

// What an alert rule watches for.
enum class AlertConditionKind : std::uint8_t {
    // At least Threshold accesses of a status class (4xx, 5xx) or of one status code.
    Status,
    // At least Threshold suspicious requests of the listed exception codes.
    Exception,
    // At least Threshold accesses (a spike).
    RateAbove,
    // Fewer than Threshold accesses from a server that had traffic (silence).
    RateBelow,
    // At least Threshold accesses whose client address (or its host name) matches a pattern.
    MatchAddress,
    // At least Threshold accesses whose page matches a pattern.
    MatchPage,
    // The log file missing or unreadable for the whole window.
    ReaderMissing,
};

struct AlertCondition {
    AlertConditionKind Kind = AlertConditionKind::Status;
    // Status: 4 or 5 for a whole class, 0 for the one code StatusCode.
    std::int32_t StatusClass = 5;
    std::int32_t StatusCode = 0;
    // Exception: the exception codes of the suspicious-request detection.
    std::vector<std::int32_t> ExceptionCodes;
    // MatchAddress, MatchPage: the pattern as written.
    std::string Pattern;
    bool operator==(const AlertCondition&) const = default;
};

// How a "match:" pattern is read: a regular expression (the quick filter's engine, whose time
// grows only linearly with the text), found anywhere in the address or page, ignoring case.
inline constexpr PatternOptions AlertMatchPatternOptions{PatternSyntax::RegularExpression, false};

// "status:5xx", "exception:160,162", "rate:below", "match:page:/admin", "reader:missing".
std::optional<AlertCondition> ParseAlertCondition(std::string_view text);
std::string AlertConditionText(const AlertCondition& condition);
// Whether the condition is judged by the clock (silence, a missing log) rather than at each
// access.
bool IsJudgedByClock(AlertConditionKind kind);

struct AlertActions {
    bool Notify = false;
    bool Beep = false;
    bool Run = false;
    bool operator==(const AlertActions&) const = default;
};

// "notify,beep,run" in any order; nothing for an unknown word.
std::optional<AlertActions> ParseAlertActions(std::string_view text);
std::string AlertActionsText(const AlertActions& actions);

inline constexpr std::int32_t MaxAlertThreshold = 1000000;
inline constexpr std::int32_t MaxAlertWindowMinutes = 7 * 24 * 60;
inline constexpr std::int32_t MaxAlertCooldownMinutes = 365 * 24 * 60;

// One rule of the alerts file: Name;Server;Condition;Threshold;WindowMinutes;CooldownMinutes;
// On;Actions;Command. Server "*" means every server, each judged on its own.
struct AlertRule {
    std::string Name;
    std::string Server = "*";
    AlertCondition Condition;
    std::int32_t Threshold = 1;
    std::int32_t WindowMinutes = 5;
    std::int32_t CooldownMinutes = 10;
    bool On = true;
    AlertActions Actions;
    // The program and its arguments as written (SplitCommandLine).
    std::string Command;

    bool AllServers() const { return Server == "*"; }
    bool AppliesTo(std::string_view serverName) const { return AllServers() || Server == serverName; }
    bool operator==(const AlertRule&) const = default;
};

// The rule of a line, or nothing when the line is no rule: fewer than eight fields, a field
// that does not convert or is out of range, an unknown condition or action, a name that is
// empty or starts with "#", a command whose quotes do not close, or more fields after the
// command (a ";" outside quotes). The command is the rest of the line after the eighth ";",
// so a quoted argument may hold a ";".
std::optional<AlertRule> ParseAlertRule(std::string_view line);
// The line of a rule; ParseAlertRule reads it back. A name or server that the line cannot
// hold (";", line ends) has those characters replaced by blanks.
std::string AlertRuleLine(const AlertRule& rule);
// Why a rule cannot be written as it is, in German, or nothing when it can.
std::optional<std::string> AlertRuleProblem(const AlertRule& rule);

// The rules of the alerts file with the lines that gave no rule, so that the file written back
// still holds them where the user put them. A rule read from the file is written back as the
// line it was read from until it is changed. Main thread only.
class AlertRuleList {
public:
    const std::vector<AlertRule>& Items() const { return Items_; }
    std::size_t Count() const { return Items_.size(); }
    const AlertRule& operator[](std::size_t i) const { return Items_[i]; }

    void Add(AlertRule rule);
    void Replace(std::size_t index, AlertRule rule);
    // The kept lines that followed it follow its predecessor.
    void Remove(std::size_t index);
    void SetOn(std::size_t index, bool on);
    void Clear();
    const std::vector<KeptLine>& KeptLines() const { return Kept_; }

    // Replaces the list with the rules of the file's lines: the header lines are dropped,
    // other "#" lines and the lines that give no rule are kept in their places; the second
    // kind is returned for the report. Empty lines are dropped.
    UnreadLines AssignLines(const std::vector<std::string>& lines);
    // The whole file: header and rules, CR LF ended.
    std::string FileText() const;

    // Whether the file was read in this run, or found missing: only then may it be written.
    // A file that exists but cannot be read is never written over.
    bool Loaded() const { return Loaded_; }
    void SetLoaded(bool loaded) { Loaded_ = loaded; }

private:
    std::vector<AlertRule> Items_;
    // Per rule, the line it was read from; empty once it was changed or when it was added.
    std::vector<std::string> SourceLines_;
    std::vector<KeptLine> Kept_;
    bool Loaded_ = false;
};

// Replaces the list with the file's rules; a missing file empties it. Marks the list loaded
// unless reading fails: std::system_error when the file exists but cannot be read (the list
// is then left empty and unloaded).
UnreadLines LoadAlertRules(const std::filesystem::path& file, AlertRuleList& list);
// Writes the file atomically; std::system_error when it cannot be written, std::logic_error
// when the list was not loaded (the file on disk could not be read and must stay).
void SaveAlertRules(const std::filesystem::path& file, const AlertRuleList& list);

} // namespace kavel
