#include "acquisition/EntryIntake.h"

#include "acquisition/EntryParsing.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"

#include <utility>

namespace kavel {

using SteadyClock = std::chrono::steady_clock;

EntryIntake::EntryIntake(Workspace& space, Server& server, std::shared_ptr<AnswerSignal> signal,
                         Queued queued)
    : Space_(space)
    , Server_(server)
    , Names_(space.Names(), std::move(signal))
    , Queued_(std::move(queued))
    , Append_([this](EntryPipeline::Made& made) {
        if (!made.Entry)
            return;
        Space_.Entries().Append(std::move(made.Entry));
        AcceptedMark_ = made.Mark;
        Queued_();
    }) {}

EntryIntake::~EntryIntake() = default;

void EntryIntake::SetSettings(const EntrySettings& settings, bool inParallel,
                              std::function<void()> threadStart) {
    EndParallel();
    Settings_ = settings;
    Settings_.Space = &Space_;
    Settings_.Names = settings.ResolveNames ? &Names_ : nullptr;
    if (inParallel && !settings.ResolveNames && Waiting_.empty())
        Pipeline_ = std::make_unique<EntryPipeline>(Server_, Settings_, std::move(threadStart));
}

void EntryIntake::FlushParallel() {
    if (Pipeline_)
        Pipeline_->Flush(Append_);
}

void EntryIntake::EndParallel() {
    if (!Pipeline_)
        return;
    // Gone even when appending fails: the lines are made here from now on.
    const std::unique_ptr<EntryPipeline> pipeline = std::move(Pipeline_);
    pipeline->Flush(Append_);
}

EntryIntake::Made EntryIntake::TryMake(std::string_view line, bool takeWithoutNames,
                                       std::vector<std::string>& open) {
    Names_.ForgetOpen();
    Names_.SetTakeWithoutNames(takeWithoutNames);
    std::unique_ptr<LogEntry> entry = MakeEntry(line, Server_, Settings_);
    Names_.SetTakeWithoutNames(false);
    if (entry) {
        Space_.Entries().Append(std::move(entry));
        Queued_();
        return Made::Entry;
    }
    if (!Names_.Deferred())
        return Made::Nothing;
    open = Names_.Open();
    return Made::Deferred;
}

bool EntryIntake::Take(std::string_view line, std::int64_t mark) {
    if (Pipeline_) {
        Pipeline_->Take(line, mark, Append_);
        return true;
    }
    if (Waiting_.empty()) {
        std::vector<std::string> open;
        const Made made = TryMake(line, false, open);
        if (made != Made::Deferred)
            return made == Made::Entry;
        Waiting_.push_back(
            WaitingLine{std::string(line), SteadyClock::now() + Settings_.NameDeadline, std::move(open)});
        WaitingBytes_ += line.size();
        return true;
    }
    while (!Waiting_.empty() && (Waiting_.size() >= MaxWaitingLines || WaitingBytes_ >= MaxWaitingBytes)) {
        TakeReady(true);
        if (Names_.Signal().Interrupted())
            return false;
    }
    if (Waiting_.empty())
        return Take(line);
    WaitingLine waiting{std::string(line), SteadyClock::now() + Settings_.NameDeadline, {}};
    // Asked now, so that its look-ups run while the lines before it wait.
    Names_.ForgetOpen();
    AskNamesOfLine(waiting.Line, Server_, Settings_);
    waiting.Open = Names_.Open();
    WaitingBytes_ += waiting.Line.size();
    Waiting_.push_back(std::move(waiting));
    TakeReady(false);
    return true;
}

void EntryIntake::TakeReady(bool waitForOldest) {
    FlushParallel();
    while (!Waiting_.empty()) {
        if (Names_.Signal().Interrupted()) {
            Waiting_.clear();
            WaitingBytes_ = 0;
            return;
        }
        WaitingLine& oldest = Waiting_.front();
        const bool late = SteadyClock::now() >= oldest.Deadline;
        if (!late && !Names_.Cache().AllAnswered(oldest.Open)) {
            if (!waitForOldest)
                return;
            Names_.WaitForAnswers(oldest.Open, oldest.Deadline);
            continue;
        }
        std::vector<std::string> open;
        if (TryMake(oldest.Line, late, open) == Made::Deferred) {
            // Addresses the early look did not see (a directive changed the fields since).
            oldest.Open = std::move(open);
            continue;
        }
        WaitingBytes_ -= oldest.Line.size();
        Waiting_.pop_front();
        waitForOldest = false;
    }
}

void EntryIntake::Finish() {
    FlushParallel();
    while (!Waiting_.empty())
        TakeReady(true);
}

std::optional<SteadyClock::time_point> EntryIntake::OldestDeadline() const {
    if (Waiting_.empty())
        return std::nullopt;
    return Waiting_.front().Deadline;
}

} // namespace kavel
