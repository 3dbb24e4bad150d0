#include "acquisition/AlertMonitor.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "base/LineBlocks.h"
#include "base/MinuteCounter.h"
#include "base/TextPattern.h"
#include "parsing/SuspiciousRequests.h"
#include "platform/Clock.h"

#include <algorithm>

namespace kavel {

struct AlertMonitor::RuleState {
    AlertRule Rule;
    std::optional<TextPattern> Pattern;
    std::string PatternError;
    // On, and with its pattern when it needs one.
    bool Live = false;
};

struct AlertMonitor::PairState {
    PairState(std::size_t rule, const AlertRule& definition)
        : Rule(rule)
        , Definition(definition)
        , Counter(std::max(definition.WindowMinutes, 1)) {}

    std::size_t Rule;
    // The rule it counts for, to keep the counters when the rules are set again unchanged.
    AlertRule Definition;
    MinuteCounter Counter;
    std::optional<DateTime> LastFired;
    // Silence: since when the server is watched; a missing log: since when it is missing.
    std::optional<DateTime> Since;
    // A clock-judged state that already fired.
    bool Episode = false;
};

struct AlertMonitor::ServerSlot {
    const Server* Owner = nullptr;
    std::string Name;
    // Any access of this server was taken over, history included.
    bool HadTraffic = false;
    // Entries up to this serial were looked at (a reader appends in serial order).
    std::uint64_t LastSerial = 0;
    std::uint64_t SeenAtTick = 0;
    // The rules that apply to this server, each with its counters.
    std::vector<std::unique_ptr<PairState>> Pairs;
};

namespace {

bool CooldownOver(const std::optional<DateTime>& lastFired, const AlertRule& rule, DateTime now) {
    return !lastFired || now.Ms - lastFired->Ms >= std::int64_t{rule.CooldownMinutes} * MsPerMinute;
}

bool Counts(const AlertCondition& condition, const TextPattern* pattern, const AccessRecord& access,
            const SpiderList& spiders, std::optional<std::int32_t>& suspicion) {
    switch (condition.Kind) {
    case AlertConditionKind::Status:
        return condition.StatusClass != 0 ? access.Status / 100 == condition.StatusClass
                                          : access.Status == condition.StatusCode;
    case AlertConditionKind::Exception:
        if (!suspicion)
            suspicion = CheckSuspiciousCode(&access, spiders).Code;
        return std::find(condition.ExceptionCodes.begin(), condition.ExceptionCodes.end(), *suspicion) !=
               condition.ExceptionCodes.end();
    case AlertConditionKind::RateAbove:
    case AlertConditionKind::RateBelow:
        return true;
    case AlertConditionKind::MatchAddress:
        return pattern != nullptr && (pattern->Matches(access.Address()) ||
                                      (access.Resolved() && pattern->Matches(access.HostName())));
    case AlertConditionKind::MatchPage:
        return pattern != nullptr && pattern->Matches(access.Page());
    case AlertConditionKind::ReaderMissing:
        return false;
    }
    return false;
}

} // namespace

AlertMonitor::AlertMonitor(Workspace& space, Fire fire)
    : Space_(space)
    , Fire_(std::move(fire)) {}

AlertMonitor::~AlertMonitor() = default;

void AlertMonitor::SetFirstPassCheck(FirstPassCheck check) {
    FirstPassCheck_ = std::move(check);
}

bool AlertMonitor::FirstPassDone(const Server& server) const {
    if (FirstPassCheck_)
        return FirstPassCheck_(server);
    const auto* reader = dynamic_cast<const LogReader*>(server.Thread());
    return reader != nullptr && reader->PassCount() > 0;
}

void AlertMonitor::SetRules(const std::vector<AlertRule>& rules) {
    RuleDefinitions_ = rules;
    Rules_.clear();
    Rules_.reserve(rules.size());
    for (const AlertRule& rule : rules) {
        RuleState state;
        state.Rule = rule;
        const AlertConditionKind kind = rule.Condition.Kind;
        if (kind == AlertConditionKind::MatchAddress || kind == AlertConditionKind::MatchPage) {
            auto compiled = TextPattern::Compile(rule.Condition.Pattern, AlertMatchPatternOptions);
            if (auto* pattern = std::get_if<TextPattern>(&compiled))
                state.Pattern.emplace(std::move(*pattern));
            else
                state.PatternError = std::move(std::get<std::string>(compiled));
            state.Live = rule.On && state.Pattern.has_value();
        } else {
            state.Live = rule.On;
        }
        Rules_.push_back(std::move(state));
    }
    for (const auto& slot : Slots_)
        Rescope(*slot);
}

const std::vector<AlertRule>& AlertMonitor::Rules() const {
    return RuleDefinitions_;
}

std::vector<std::string> AlertMonitor::PatternErrors() const {
    std::vector<std::string> errors;
    for (const RuleState& rule : Rules_)
        errors.push_back(rule.PatternError);
    return errors;
}

void AlertMonitor::Rescope(ServerSlot& slot) {
    std::vector<std::unique_ptr<PairState>> old;
    old.swap(slot.Pairs);
    for (std::size_t i = 0; i < Rules_.size(); ++i) {
        const AlertRule& rule = Rules_[i].Rule;
        if (!rule.AppliesTo(slot.Name))
            continue;
        const auto kept =
            std::find_if(old.begin(), old.end(), [&rule](const std::unique_ptr<PairState>& pair) {
                return pair != nullptr && pair->Definition == rule;
            });
        if (kept != old.end()) {
            (*kept)->Rule = i;
            slot.Pairs.push_back(std::move(*kept));
        } else {
            slot.Pairs.push_back(std::make_unique<PairState>(i, rule));
        }
    }
}

AlertMonitor::ServerSlot& AlertMonitor::SlotFor(const Server& server) {
    if (LastSlot_ != nullptr && LastSlot_->Owner == &server)
        return *LastSlot_;
    if (const auto found = SlotIndex_.find(&server); found != SlotIndex_.end()) {
        LastSlot_ = found->second;
        return *LastSlot_;
    }
    auto slot = std::make_unique<ServerSlot>();
    slot->Owner = &server;
    slot->Name = server.Name();
    Rescope(*slot);
    LastSlot_ = slot.get();
    SlotIndex_.emplace(&server, slot.get());
    Slots_.push_back(std::move(slot));
    return *LastSlot_;
}

void AlertMonitor::ForgetServer(const Server& server) {
    SlotIndex_.erase(&server);
    LastSlot_ = nullptr;
    Slots_.erase(
        std::remove_if(Slots_.begin(), Slots_.end(),
                       [&server](const std::unique_ptr<ServerSlot>& slot) { return slot->Owner == &server; }),
        Slots_.end());
}

void AlertMonitor::Observe(LogEntry& first) {
    const DateTime now = platform::Now();
    EntryQueue& queue = Space_.Entries();
    // Asked once per server and take-over: the answer does not change while the reader that
    // notified waits.
    std::vector<std::pair<const Server*, bool>> passes;
    for (const LogEntry* entry = &first; entry != nullptr; entry = queue.Next(entry)) {
        if (entry->Server == nullptr || entry->Access() == nullptr)
            continue;
        ServerSlot& slot = SlotFor(*entry->Server);
        if (entry->Serial <= slot.LastSerial)
            continue;
        slot.LastSerial = entry->Serial;
        const auto known = std::find_if(passes.begin(), passes.end(),
                                        [entry](const auto& pass) { return pass.first == entry->Server; });
        bool done;
        if (known != passes.end()) {
            done = known->second;
        } else {
            done = FirstPassDone(*entry->Server);
            passes.emplace_back(entry->Server, done);
        }
        Count(slot, *entry, now, done);
    }
}

void AlertMonitor::ObserveEntry(const LogEntry& entry, DateTime now, bool firstPassDone) {
    if (entry.Server == nullptr || entry.Access() == nullptr)
        return;
    Count(SlotFor(*entry.Server), entry, now, firstPassDone);
}

void AlertMonitor::Count(ServerSlot& slot, const LogEntry& entry, DateTime now, bool firstPassDone) {
    slot.HadTraffic = true;
    if (!firstPassDone || slot.Pairs.empty())
        return;
    // Address and page are slices of the line.
    const LinePin pin(entry);
    const std::int64_t minute = MinuteOf(now.Ms);
    const AccessRecord& access = *entry.Access();
    std::optional<std::int32_t> suspicion;
    for (const auto& owned : slot.Pairs) {
        PairState& pair = *owned;
        const RuleState& rule = Rules_[pair.Rule];
        if (!rule.Live || !Counts(rule.Rule.Condition, rule.Pattern ? &*rule.Pattern : nullptr, access,
                                  Space_.Spiders(), suspicion))
            continue;
        pair.Counter.Add(minute);
        if (IsJudgedByClock(rule.Rule.Condition.Kind))
            continue;
        const std::uint64_t total = pair.Counter.Total(minute);
        if (total >= static_cast<std::uint64_t>(rule.Rule.Threshold) &&
            CooldownOver(pair.LastFired, rule.Rule, now))
            FireAlert(rule, pair, slot, total, now, AlertAccessOf(entry));
    }
}

void AlertMonitor::FireAlert(const RuleState& rule, PairState& pair, const ServerSlot& slot,
                             std::uint64_t count, DateTime now, std::optional<AlertAccess> access) {
    FiredAlert alert;
    alert.Id = NextId_++;
    alert.Rule = rule.Rule;
    alert.Server = slot.Name;
    alert.Count = count;
    alert.Time = now;
    alert.Access = std::move(access);
    pair.LastFired = now;
    if (Fire_)
        Fire_(alert);
}

void AlertMonitor::Tick(DateTime now) {
    const std::uint64_t tick = ++TickCount_;
    for (const auto& owned : Space_.Servers()) {
        const Server& server = *owned;
        ServerSlot& slot = SlotFor(server);
        slot.SeenAtTick = tick;
        std::string name = server.Name();
        if (name != slot.Name) {
            slot.Name = std::move(name);
            Rescope(slot);
        }
    }
    // Servers that left the list without ForgetServer.
    for (auto it = Slots_.begin(); it != Slots_.end();) {
        if ((*it)->SeenAtTick != tick) {
            SlotIndex_.erase((*it)->Owner);
            it = Slots_.erase(it);
            LastSlot_ = nullptr;
        } else {
            ++it;
        }
    }
    for (const auto& slot : Slots_)
        JudgeByClock(*slot, *slot->Owner, now);
}

void AlertMonitor::JudgeByClock(ServerSlot& slot, const Server& server, DateTime now) {
    const bool active = server.Active();
    std::optional<bool> passDone;
    for (const auto& owned : slot.Pairs) {
        PairState& pair = *owned;
        const RuleState& rule = Rules_[pair.Rule];
        const AlertConditionKind kind = rule.Rule.Condition.Kind;
        if (!rule.Live || !IsJudgedByClock(kind))
            continue;
        const std::int64_t window = std::int64_t{rule.Rule.WindowMinutes} * MsPerMinute;
        std::uint64_t count = 0;
        if (kind == AlertConditionKind::RateBelow) {
            if (!passDone)
                passDone = FirstPassDone(server);
            // Judged only while the server is read, from the end of its first pass, and only
            // once a whole window was watched.
            if (!active || !*passDone) {
                pair.Since.reset();
                pair.Episode = false;
                continue;
            }
            if (!pair.Since)
                pair.Since = now;
            if (!slot.HadTraffic || now.Ms - pair.Since->Ms < window)
                continue;
            count = pair.Counter.Total(MinuteOf(now.Ms));
            if (count >= static_cast<std::uint64_t>(rule.Rule.Threshold)) {
                pair.Episode = false;
                continue;
            }
        } else {
            if (!active || !server.LogFileMissing()) {
                pair.Since.reset();
                pair.Episode = false;
                continue;
            }
            if (!pair.Since)
                pair.Since = now;
            const std::int64_t missingFor = now.Ms - pair.Since->Ms;
            if (missingFor < window)
                continue;
            count = static_cast<std::uint64_t>(missingFor / MsPerMinute);
        }
        // Once when the state begins; while it lasts, again after each cool-down.
        const bool due = pair.Episode
                             ? rule.Rule.CooldownMinutes > 0 && CooldownOver(pair.LastFired, rule.Rule, now)
                             : CooldownOver(pair.LastFired, rule.Rule, now);
        if (due) {
            pair.Episode = true;
            FireAlert(rule, pair, slot, count, now, std::nullopt);
        }
    }
}

} // namespace kavel
