#include "ui/ExpirySweep.h"

#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Workspace.h"
#include "platform/Clock.h"
#include "ui/AccessLists.h"

#include <algorithm>

namespace kavel::ui {

ExpirySweep::ExpirySweep(AccessLists& lists, QObject* timerParent)
    : Lists_(lists)
    , Timer_(timerParent)
    , Continue_(timerParent) {
    Timer_.setObjectName(QStringLiteral("TimerExpiry"));
    Timer_.setInterval(Interval_);
    Timer_.callOnTimeout(&Timer_, [this] { SweepSoon(); });
    Continue_.setSingleShot(true);
    Continue_.setInterval(0);
    Continue_.callOnTimeout(&Continue_, [this] { Slice(); });
}

void ExpirySweep::SetInterval(std::chrono::milliseconds interval) {
    Interval_ = interval;
    Timer_.setInterval(interval);
}

void ExpirySweep::Start() {
    Stopped_ = false;
    LastBegin_ = platform::Now();
    Timer_.start();
}

void ExpirySweep::Stop() {
    Stopped_ = true;
    Running_ = false;
    Timer_.stop();
    Continue_.stop();
    Next_ = nullptr;
    Leaving_.clear();
    PassedNew_.clear();
}

void ExpirySweep::NoteNotification() {
    if (Stopped_ || Running_)
        return;
    if (LastBegin_ && platform::Now().Ms - LastBegin_->Ms < Interval_.count())
        return;
    SweepSoon();
}

void ExpirySweep::SweepSoon() {
    if (Stopped_ || Running_)
        return;
    Running_ = true;
    Begin();
    Continue_.start();
}

void ExpirySweep::Begin() {
    Now_ = platform::Now();
    LastBegin_ = Now_;
    RemovalStamp_ = Lists_.RemovalStamp();
    Next_ = Lists_.Space().Entries().First();
    Leaving_.clear();
    PassedNew_.clear();
    OldestInView_.reset();
}

void ExpirySweep::Slice() {
    if (!Running_)
        return;
    // A fill that lets the window process its messages holds entries meanwhile: the sweep
    // waits for its end.
    if (Lists_.Filling()) {
        Continue_.start(static_cast<int>(SliceTime_.count()));
        return;
    }
    // Entries were freed since the walk began (the lists were rebuilt, a server deleted): the
    // rebuild took the expired ones along, the next sweep finds the rest.
    if (RemovalStamp_ != Lists_.RemovalStamp()) {
        Running_ = false;
        Next_ = nullptr;
        Leaving_.clear();
        PassedNew_.clear();
        return;
    }
    using SteadyClock = std::chrono::steady_clock;
    const SteadyClock::time_point until = SteadyClock::now() + SliceTime_;
    const EntryQueue& queue = Lists_.Space().Entries();
    const auto keep = [this](DateTime time) {
        if (!OldestInView_ || time < *OldestInView_)
            OldestInView_ = time;
    };
    int walked = 0;
    while (Next_ != nullptr) {
        LogEntry* entry = Next_;
        Next_ = queue.Next(entry);
        if (entry->IsNew.load()) {
            PassedNew_.push_back(entry);
        } else if (IsExpired(*entry, Now_)) {
            Leaving_.push_back(entry);
        } else if (entry->DisplayState != DisplayState::NotShown) {
            keep(entry->Time);
        }
        if (++walked % 256 == 0 && Next_ != nullptr && SteadyClock::now() >= until) {
            Continue_.start(0);
            return;
        }
    }
    // Entries that were new when the walk passed them and have been taken over since are in the
    // view now.
    for (const LogEntry* entry : PassedNew_)
        if (!entry->IsNew.load() && entry->DisplayState != DisplayState::NotShown)
            keep(entry->Time);
    End();
}

void ExpirySweep::End() {
    Running_ = false;
    ++Sweeps_;
    std::vector<LogEntry*> leaving;
    leaving.swap(Leaving_);
    PassedNew_.clear();
    PassedNew_.shrink_to_fit();
    if (leaving.empty())
        return;
    Result result;
    result.OldestInView = OldestInView_;
    for (const LogEntry* entry : leaving) {
        if (entry->DisplayState != DisplayState::NotShown) {
            result.ViewChanged = true;
            if (Hooks_.Leaving)
                Hooks_.Leaving(*entry);
        }
        if (entry->Server != nullptr)
            result.Servers.push_back(entry->Server);
    }
    std::sort(result.Servers.begin(), result.Servers.end());
    result.Servers.erase(std::unique(result.Servers.begin(), result.Servers.end()), result.Servers.end());
    Lists_.RemoveEntries(leaving);
    if (Hooks_.Swept)
        Hooks_.Swept(result);
}

} // namespace kavel::ui
