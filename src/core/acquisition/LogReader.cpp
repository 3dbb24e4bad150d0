#include "acquisition/LogReader.h"

#include "acquisition/EntryArena.h"
#include "acquisition/EntryIntake.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogFileReader.h"
#include "acquisition/RotatedLogFiles.h"
#include "acquisition/TruncatedLogCopy.h"
#include "acquisition/Workspace.h"
#include "base/LineBlocks.h"
#include "config/AppSettings.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Tone.h"

#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>
#include <unordered_map>

namespace kavel {

namespace reader_state {
std::string SleepingFor(int ms) {
    return "Schlafend für " + std::to_string(ms) + " Millisekunden";
}

std::string Unreadable(std::string_view reason) {
    return "Protokolldatei nicht lesbar: " + std::string(reason);
}
} // namespace reader_state

namespace {

constexpr std::chrono::milliseconds PollSlice{500};
constexpr std::chrono::milliseconds MinimumShortPause{100};
// A block of lines is sealed when its reader found no new line for this long; a busy log fills
// its blocks long before.
constexpr std::chrono::seconds LineBlockQuietTime{5};
// Readers yield to the main thread and the web server they watch.
constexpr int ReaderNiceness = 10;

// Failure to lower the priority leaves the thread at normal priority; nothing else changes.
void LowerThreadPriority() {
    [[maybe_unused]] const int niced =
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), ReaderNiceness);
}

std::int64_t WholeSecond(DateTime time) {
    const std::int64_t q = time.Ms / MsPerSecond;
    return time.Ms % MsPerSecond < 0 ? q - 1 : q;
}

std::string FormatPopupText(std::string_view page, std::string_view host, std::string_view server) {
    const std::string_view values[] = {page, host, server};
    const std::string_view format = PopupFormat;
    std::string text;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && next < 3) {
            text.append(values[next++]);
            ++i;
        } else {
            text.push_back(format[i]);
        }
    }
    return text;
}

} // namespace

int PollPauseSlices(std::int32_t pollCycleMs) {
    return pollCycleMs > 0 ? static_cast<int>(pollCycleMs / PollSlice.count()) : 0;
}

std::chrono::milliseconds ShortPollPause(std::int32_t pollCycleMs) {
    if (PollPauseSlices(pollCycleMs) > 0) {
        return std::chrono::milliseconds{0};
    }
    return std::max(std::chrono::milliseconds{pollCycleMs}, MinimumShortPause);
}

std::int64_t FindStart(LogFileReader& reader, std::int64_t low, std::int64_t high,
                       const std::function<bool(std::string)>& isWithinKeep, int* probes) {
    for (;;) {
        const std::int64_t middle = low + (high - low) / 2;
        reader.Seek(middle);
        reader.ReadLine();
        std::string probe = reader.ReadLine();
        const std::int64_t position = reader.Position();
        // Nothing consumed means the data ended (the file shrank meanwhile): no probe left.
        if (position >= high || position <= middle) {
            return low;
        }
        if (probes != nullptr) {
            ++*probes;
        }
        if (isWithinKeep(std::move(probe))) {
            high = middle;
        } else {
            low = middle;
        }
    }
}

LogReader::LogReader(Workspace& space)
    : Space_(space)
    , Live_(space.Readers().Live())
    , Serial_(Live_->Add(*this))
    , NameAnswers_(std::make_shared<AnswerSignal>())
    , State_(reader_state::Created) {
    // An answer for lines that wait ends the poll pause as well.
    NameAnswers_->SetOnNotify([this] {
        {
            std::lock_guard hold(HoldLock_);
            NamesAnswered_ = true;
        }
        HoldCv_.notify_all();
    });
}

LogReader::~LogReader() {
    // Answers may come long after the reader is gone.
    NameAnswers_->SetOnNotify({});
    if (Thread_.joinable()) {
        Terminate();
        WaitFor();
    }
    Live_->Remove(Serial_);
}

void LogReader::Start() {
    if (Thread_.joinable() || Server_ == nullptr) {
        return;
    }
    Thread_ = std::thread([this] { Execute(); });
}

void LogReader::Terminate() {
    {
        std::lock_guard lock(HoldLock_);
        Terminated_ = true;
    }
    HoldCv_.notify_all();
    // Lines waiting for names are given up: the end never waits for a look-up.
    NameAnswers_->Interrupt();
}

bool LogReader::Terminated() const {
    std::lock_guard lock(HoldLock_);
    return Terminated_;
}

void LogReader::WaitFor() {
    if (!Thread_.joinable()) {
        return;
    }
    if (platform::HasMainDispatcher() && platform::MainDispatcher().IsMainThread()) {
        platform::MainDispatcher().WaitProcessingSynchronized([this] { return Finished(); });
    }
    Thread_.join();
}

void LogReader::Park() {
    {
        std::lock_guard lock(HoldLock_);
        Parked_ = true;
        Terminated_ = true;
        // A reader that rests already stays where it is: no wake-up.
        if (Resting_) {
            return;
        }
    }
    HoldCv_.notify_all();
    NameAnswers_->Interrupt();
}

void LogReader::LetGoOfThread() {
    if (Thread_.joinable()) {
        Thread_.detach();
    }
}

bool LogReader::Parked() const {
    std::lock_guard lock(HoldLock_);
    return Resting_ || Finished();
}

std::string LogReader::State() const {
    std::string state;
    {
        std::shared_lock lock(StateLock_);
        state = State_;
    }
    if (const std::uint64_t dropped = DroppedPartialLines(); dropped > 0) {
        state += " (unvollständige Zeilen verworfen: " + std::to_string(dropped) + ")";
    }
    return state;
}

void LogReader::SetState(std::string_view state) {
    std::unique_lock lock(StateLock_);
    State_.assign(state);
}

void LogReader::Suspend() {
    std::lock_guard lock(HoldLock_);
    if (Terminated_) {
        return;
    }
    // SetActive(true) may have come between the reader's look at Active and this call.
    if (CurrentHoldReason() == HoldReason::Activation && Server_ != nullptr && Server_->Active()) {
        return;
    }
    Suspended_ = true;
}

bool LogReader::Suspended() const {
    std::lock_guard lock(HoldLock_);
    return Suspended_;
}

void LogReader::ResumeSuspended() {
    {
        std::lock_guard lock(HoldLock_);
        Suspended_ = false;
    }
    HoldCv_.notify_all();
}

void LogReader::Pause() {
    {
        std::lock_guard lock(HoldLock_);
        Paused_ = true;
    }
    // A reader in its poll pause stops there at once.
    HoldCv_.notify_all();
}

void LogReader::Resume() {
    {
        std::lock_guard lock(HoldLock_);
        Paused_ = false;
        if (Suspended_ && CurrentHoldReason() == HoldReason::Activation) {
            Suspended_ = false;
        }
    }
    HoldCv_.notify_all();
}

bool LogReader::Paused() const {
    std::lock_guard lock(HoldLock_);
    return Paused_;
}

void LogReader::PollNow() {
    {
        std::lock_guard lock(HoldLock_);
        PollNow_ = true;
    }
    HoldCv_.notify_all();
}

bool LogReader::SafePoint() {
    std::unique_lock lock(HoldLock_);
    Holding_ = true;
    Resting_ = true;
    HoldCv_.wait(lock, [this] { return !Parked_ && (Terminated_ || (!Suspended_ && !Paused_)); });
    Resting_ = false;
    Holding_ = false;
    return !Terminated_;
}

bool LogReader::Holding() const {
    std::lock_guard lock(HoldLock_);
    return Holding_ && !Terminated_ && (Suspended_ || Paused_);
}

void LogReader::Execute() {
    const pid_t tid = ::gettid();
    SystemThreadId_.store(tid, std::memory_order_release);
    LowerThreadPriority();
    try {
        Body();
    } catch (const std::exception& error) {
        SetState(error.what());
    } catch (...) {
    }
    // Whoever waits for the end looks at the flag again by itself: the thread touches nothing of
    // the program's after it.
    Finished_.store(true, std::memory_order_release);
}

void LogReader::Body() {
    kavel::Server& server = *Server_;
    // Read once: a reader follows its log, or keeps its first file, for its whole life.
    const SettingsStore* options = Space_.Options();
    const bool follow = OptionLogFollowNewFiles(options);
    RotatedLogFiles rotated(follow ? std::int64_t{OptionLogRotateGraceSeconds(options)} * MsPerSecond : 0);
    ReadProgress progress;
    // Lines that wait for their names carry over from one pass and one file to the next.
    EntryIntake intake(Space_, server, NameAnswers_, [this, &progress] { EntryQueued(progress); });
    progress.Intake = &intake;
    bool firstFile = true;
    std::string shownProblem;
    while (!Terminated()) {
        const std::string fileName = ExpandLogFileName(server);
        FollowedFile log;
        SetState(reader_state::Assigning);
        const std::string problem = OpenLog(*log.Reader, fileName);
        if (!problem.empty()) {
            if (!follow) {
                SetState(problem);
                MissingFileStep();
                return;
            }
            // Deleted or moved away, the log may still be written through the web server's handle.
            if (!rotated.Empty() && SafePoint()) {
                StartPass(progress);
                ReadRotatedFiles(rotated, progress);
            }
            TakeWaitingLines(progress, false);
            // Shown once per problem, after what the pass still read: whoever sees the log
            // missing finds the reader resting, not reading on behind the problem.
            if (problem != shownProblem) {
                ShowProblem(problem);
                shownProblem = problem;
            }
            SetState(problem);
            // A log that appears later is new: it is read from its start, not searched.
            firstFile = false;
            PassCount_.fetch_add(1, std::memory_order_acq_rel);
            PauseWithWaitingLines(progress, false);
            SafePoint();
            continue;
        }
        shownProblem.clear();
        server.SetLogFileMissing(false);
        // A file read before that comes back under the log's name (its folder was moved away
        // and back, a rotation undone) goes on where it stopped: no line is read twice.
        Resumption resumed = Resumption::None;
        try {
            resumed = rotated.Resume(log);
        } catch (const std::exception& e) {
            SetState(e.what());
        }
        if (resumed == Resumption::AtMarkWithHeldLine) {
            DroppedPartialLines_.fetch_sub(1, std::memory_order_acq_rel);
        }
        if (resumed == Resumption::None) {
            if (firstFile) {
                PositionAtStart(*log.Reader);
            }
            log.RestartPos = log.Reader->Position();
        }
        firstFile = false;
        const ReadEnd end = ReadingLoop(log, fileName, follow, progress, rotated);
        if (end == ReadEnd::Stopped) {
            return;
        }
        if (!follow) {
            TakeWaitingLines(progress, true);
            MissingFileStep();
            return;
        }
        if (end == ReadEnd::Replaced) {
            // Read on beside the new log for as long as the web server may still write into it.
            DropPartialLines(rotated.Add(std::move(log)));
        }
    }
}

std::string LogReader::OpenLog(LogFileReader& reader, const std::string& fileName) {
    if (fileName.empty()) {
        return std::string(reader_state::FileMissing);
    }
    try {
        reader.Open(fileName);
    } catch (const NotRegularFileError&) {
        return std::string(reader_state::NotRegularFile);
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::no_such_file_or_directory) {
            return std::string(reader_state::FileMissing);
        }
        return reader_state::Unreadable(e.code().message());
    } catch (const std::exception& e) {
        return reader_state::Unreadable(e.what());
    }
    return std::string();
}

void LogReader::ShowProblem(const std::string& problem) {
    SetState(problem);
    // The node first: whoever sees the flag finds the node already showing it.
    SetTreeStatus(ServerStatus::Missing);
    Server_->SetLogFileMissing(true);
}

void LogReader::PositionAtStart(LogFileReader& reader) {
    kavel::Server& server = *Server_;
    SetState(reader_state::AskingSize);
    std::int64_t size = 0;
    try {
        size = reader.Size();
    } catch (const std::exception& e) {
        SetState(e.what());
    }
    std::int64_t start = 0;
    int probes = 0;
    try {
        // The probes ask no names and take no entry memory: a log with nothing to keep costs neither.
        start = FindStart(
            reader, 0, size, [&server](std::string line) { return LineWithinKeepPeriod(line, server); },
            &probes);
    } catch (const std::exception& e) {
        SetState(e.what());
    }
    ProbeCount_.store(probes, std::memory_order_release);
    SetState(reader_state::Positioning);
    try {
        reader.Seek(start);
        // Inside the log the found position falls into a line, whose rest is skipped; at the
        // very start the first line is whole and is read.
        if (start > 0) {
            std::string skipped;
            reader.ReadCompleteLine(skipped);
        }
    } catch (const std::exception& e) {
        SetState(e.what());
    }
}

bool LogReader::LogReplaced(const LogFileReader& reader, const std::string& fileName) const {
    const std::string current = ExpandLogFileName(*Server_);
    if (current != fileName) {
        // A new daily file that is not there yet: the old one may still get lines meanwhile.
        return IdentityOf(current).has_value();
    }
    const std::optional<FileIdentity> now = IdentityOf(fileName);
    return !now.has_value() || *now != reader.Identity();
}

void LogReader::DropPartialLines(std::uint64_t count) {
    DroppedPartialLines_.fetch_add(count, std::memory_order_acq_rel);
}

LogReader::ReadEnd LogReader::ReadingLoop(FollowedFile& log, const std::string& fileName, bool follow,
                                          ReadProgress& progress, RotatedLogFiles& rotated) {
    kavel::Server& server = *Server_;
    LogFileReader& reader = *log.Reader;
    if (!Terminated() && !server.Active()) {
        SleepUntilResumed(HoldReason::Activation);
    }
    try {
        reader.CaptureTail(reader.Position());
    } catch (const std::exception& e) {
        SetState(e.what());
    }
    while (SafePoint()) {
        SetState(reader_state::AskingSize);
        std::int64_t size = -1;
        try {
            size = reader.Size();
        } catch (const std::exception& e) {
            SetState(e.what());
        }
        if (size < 0) {
            return ReadEnd::Lost;
        }
        // Looked at before this pass, so that the pass reads the old file to its end first.
        bool replaced = false;
        if (follow) {
            try {
                replaced = LogReplaced(reader, fileName);
            } catch (const std::exception& e) {
                SetState(e.what());
            }
        }
        // A log cut back under what was read (copytruncate rotation, truncation in place), even
        // when it has been written past that point again since, is read again from its start.
        bool rewritten = false;
        try {
            rewritten = !reader.TailUnchanged();
        } catch (const std::exception& e) {
            SetState(e.what());
        }
        SetTreeStatus(ServerStatus::Reading);
        StartPass(progress);
        // The files rotated away hold the older lines: they are read first.
        ReadRotatedFiles(rotated, progress);
        if (rewritten) {
            RestartTruncatedLog(log, fileName, progress);
        }
        ReadNewLines(log, progress);
        // The first pass' history is taken whole, its names waited for. Later, lines go on
        // waiting for their names during the pause, so that what is written meanwhile is read at
        // the next poll rather than after the names.
        TakeWaitingLines(progress, !progress.FirstPassDone);
        progress.FirstPassDone = true;
        EndParallelParse(progress);
        try {
            reader.CaptureTail(reader.Position());
        } catch (const std::exception& e) {
            SetState(e.what());
        }
        SetTreeStatus(ServerStatus::Idle);
        // Lines of the old file that still wait for their names stay ahead of the new file's.
        if (replaced && !Terminated()) {
            PassCount_.fetch_add(1, std::memory_order_acq_rel);
            return ReadEnd::Replaced;
        }
        PassCount_.fetch_add(1, std::memory_order_acq_rel);
        ReleaseEmptyEntryBlock();
        SealQuietLineBlock(LineBlockQuietTime);
        PauseWithWaitingLines(progress, true);
        if (server.LogType() == LogFormat::W3c && !Terminated()) {
            // Reading again from after the last accepted line takes a line that was not accepted
            // at the last poll once more; lines that wait for their names were accepted.
            SetState(reader_state::Refilling);
            try {
                reader.Refill(log.RestartPos);
            } catch (const std::exception& e) {
                SetState(e.what());
            }
        }
    }
    return ReadEnd::Stopped;
}

bool LogReader::ReadNewLines(FollowedFile& file, ReadProgress& progress) {
    const bool more = ReadLinesOf(file, progress);
    EntryIntake& intake = *progress.Intake;
    if (intake.InParallel()) {
        // Every line read is queued before the file is left, so that a W3C log restarts after
        // the last line accepted.
        SetState(reader_state::MakingEntry);
        try {
            intake.FlushParallel();
        } catch (const std::exception& e) {
            SetState(e.what());
        }
        if (const std::optional<std::int64_t> mark = intake.TakeAcceptedMark();
            mark && Server_->LogType() == LogFormat::W3c)
            file.RestartPos = *mark;
    }
    return more;
}

bool LogReader::ReadLinesOf(FollowedFile& file, ReadProgress& progress) {
    const bool w3c = Server_->LogType() == LogFormat::W3c;
    LogFileReader& reader = *file.Reader;
    file.Holding = false;
    while (SafePoint()) {
        SetState(reader_state::ReadingLine);
        std::string_view line;
        try {
            if (!reader.ReadCompleteLine(line)) {
                SetState(reader_state::CheckingEnd);
                file.Holding = !reader.AtEnd();
                return true;
            }
        } catch (const std::exception& e) {
            // A read that fails would fail again at once; the next poll tries again.
            SetState(e.what());
            return true;
        }
        SetState(reader_state::MakingEntry);
        bool accepted = false;
        try {
            accepted = progress.Intake->Take(line, reader.Position());
        } catch (const std::exception& e) {
            SetState(e.what());
        }
        if (accepted && w3c && !progress.Intake->InParallel()) {
            file.RestartPos = reader.Position();
        }
    }
    return false;
}

void LogReader::ReadRotatedFiles(RotatedLogFiles& rotated, ReadProgress& progress) {
    if (rotated.Empty()) {
        return;
    }
    const bool w3c = Server_->LogType() == LogFormat::W3c;
    DropPartialLines(rotated.ReadEach([&](FollowedFile& file) {
        if (w3c) {
            // As for the log itself: a line not accepted at the last pass is read once more.
            SetState(reader_state::Refilling);
            file.Reader->Refill(file.RestartPos);
        }
        return ReadNewLines(file, progress);
    }));
}

void LogReader::RestartTruncatedLog(FollowedFile& log, const std::string& fileName, ReadProgress& progress) {
    std::unique_ptr<LogFileReader> copy;
    try {
        copy = OpenTruncatedLogCopy(*log.Reader, fileName);
    } catch (const std::exception& e) {
        SetState(e.what());
    }
    bool heldLineLost = log.Holding;
    if (copy) {
        FollowedFile rest;
        rest.Reader = std::move(copy);
        try {
            // The copy is read once, from where the reading of the log stopped to its end; a
            // line held back there is complete in it.
            rest.Reader->Seek(log.Reader->TailAnchor());
            ReadNewLines(rest, progress);
            // The rest of its last line, written after the copy, went into the cut log.
            heldLineLost = rest.Holding;
        } catch (const std::exception& e) {
            SetState(e.what());
        }
    }
    if (heldLineLost) {
        DropPartialLines(1);
    }
    log.Holding = false;
    SetState(reader_state::Refilling);
    try {
        log.Reader->Refill(0);
    } catch (const std::exception& e) {
        SetState(e.what());
    }
    log.RestartPos = 0;
}

void LogReader::StartPass(ReadProgress& progress) {
    // Read once a pass: looking the settings up costs more than a line's parse. A log's history,
    // read in the first pass, is parsed on a second thread while this one queues.
    progress.Intake->SetSettings(EntrySettings::Of(Space_), !progress.FirstPassDone,
                                 [] { LowerThreadPriority(); });
    progress.Queued = 0;
}

void LogReader::EndParallelParse(ReadProgress& progress) {
    try {
        progress.Intake->EndParallel();
    } catch (const std::exception& e) {
        SetState(e.what());
    }
    EndPass(progress);
}

void LogReader::EntryQueued(ReadProgress& progress) {
    ShowReadingStatusIfDue();
    // Every 10 entries, and at the end of a pass, the main thread is told. The log's history,
    // read in the first pass, goes in runs of 1,000: each handshake costs both threads a wait,
    // and nobody watches that history arrive line by line.
    progress.PendingInform = true;
    ++progress.Queued;
    const std::int32_t run =
        progress.FirstPassDone ? EntriesPerNotification : EntriesPerFirstPassNotification;
    if (progress.Queued % run == 0) {
        EndPass(progress);
    }
}

void LogReader::TakeWaitingLines(ReadProgress& progress, bool all) {
    try {
        if (all) {
            progress.Intake->Finish();
        } else {
            progress.Intake->TakeReady();
        }
    } catch (const std::exception& e) {
        SetState(e.what());
    }
    EndPass(progress);
}

void LogReader::PauseWithWaitingLines(ReadProgress& progress, bool showSleeping) {
    const WaitingLines waiting{progress.Intake, [&] {
                                   // Entries of lines that waited show on the node as a pass'
                                   // entries do; a node that shows a missing log keeps showing it.
                                   if (showSleeping) {
                                       SetTreeStatus(ServerStatus::Reading);
                                   }
                                   TakeWaitingLines(progress, false);
                                   if (showSleeping) {
                                       SetTreeStatus(ServerStatus::Idle);
                                   }
                               }};
    PollPause(showSleeping, &waiting);
}

void LogReader::EndPass(ReadProgress& progress) {
    if (progress.PendingInform) {
        progress.PendingInform = false;
        InformMain(progress.FirstPassDone);
    }
}

void LogReader::MissingFileStep() {
    SetTreeStatus(ServerStatus::Missing);
    Server_->SetLogFileMissing(true);
    if (!Terminated()) {
        SleepUntilResumed(HoldReason::FileMissing);
    }
}

void LogReader::InformMain(bool firstPassDone) {
    kavel::Server& server = *Server_;
    SetState(reader_state::Informing);
    if (server.SoundOnAccess() && firstPassDone) {
        const std::int64_t second = WholeSecond(platform::Now());
        if (Space_.Readers().TakeBeepSecond(second)) {
            platform::Tone& tone = platform::CurrentTone();
            tone.Beep(PopupBeepHighHz, PopupBeepMs);
            tone.Beep(PopupBeepLowHz, PopupBeepMs);
        }
    }
    if (firstPassDone && server.PopupOnDocument()) {
        std::string text;
        VisitorMark visitor = VisitorMark::None;
        bool found = false;
        {
            // The walk holds the shared lock so that the main thread cannot free an entry under
            // it, and lets go before the synchronized call (the main thread may be waiting for
            // the exclusive lock).
            EntryQueue& queue = Space_.Entries();
            auto lock = queue.ReadLock();
            const std::uint64_t lastPopup = Space_.Readers().LastPopupSerial();
            for (const LogEntry* entry = queue.Last(); entry != nullptr; entry = queue.Prev(entry)) {
                if (!entry->IsNew.load() || entry->Serial == lastPopup) {
                    break;
                }
                if (entry->Server == &server && entry->Access() && entry->Access()->IsDocument) {
                    const LinePin pin(*entry);
                    text = FormatPopupText(entry->Access()->PageWithoutQuery(), entry->Access()->HostName(),
                                           server.Name());
                    visitor = entry->Access()->Visitor();
                    Space_.Readers().SetLastPopupSerial(entry->Serial);
                    found = true;
                    break;
                }
            }
        }
        if (found) {
            RunOnMainThread([&] {
                if (ReaderView* view = Space_.Readers().View()) {
                    view->ShowPopup(text, PopupCaption, visitor);
                }
            });
        }
    }
    if (platform::HasMainDispatcher()) {
        platform::MainDispatcher().Post([live = Live_, serial = Serial_] {
            if (LogReader* reader = live->Find(serial)) {
                reader->Space().Readers().MainThread().OnReaderNotify(*reader);
            }
        });
    }
    if (!Terminated()) {
        SleepUntilResumed(HoldReason::Notification);
    }
}

void LogReader::SleepUntilResumed(HoldReason reason) {
    SetState(reader_state::Sleeping);
    HoldReason_.store(reason, std::memory_order_release);
    RunOnMainThread([this] { Space_.Readers().MainThread().SuspendReader(*this); });
    SafePoint();
    HoldReason_.store(HoldReason::None, std::memory_order_release);
    SetState(reader_state::Waking);
}

void LogReader::SetTreeStatus(ServerStatus status) {
    // A pass shows that it reads once it has entries to tell of: the polls of a quiet log then
    // cost the main thread nothing.
    if (status == ServerStatus::Reading) {
        ReadingStatusDue_ = true;
        return;
    }
    ReadingStatusDue_ = false;
    ShowTreeStatus(status);
}

void LogReader::ShowReadingStatusIfDue() {
    if (ReadingStatusDue_) {
        ReadingStatusDue_ = false;
        ShowTreeStatus(ServerStatus::Reading);
        // After a synchronized call: a safe point.
        SafePoint();
    }
}

void LogReader::ShowTreeStatus(ServerStatus status) {
    if (Terminated() || ShownStatus_ == status) {
        return;
    }
    ShownStatus_ = status;
    RunOnMainThread([&] {
        if (ReaderView* view = Space_.Readers().View()) {
            view->SetServerNodeStatus(*Server_, status);
        }
    });
}

void LogReader::RunOnMainThread(const std::function<void()>& call) {
    // A failure on the main thread ends that call only; the reader goes on and shows why.
    try {
        platform::MainDispatcher().Synchronize(call);
    } catch (const std::exception& e) {
        SetState(e.what());
    }
}

void LogReader::PollPause(bool showSleeping, const WaitingLines* waiting) {
    const std::int32_t cycle = Server_->TimeLogPollCycleInMs();
    const int slices = PollPauseSlices(cycle);
    const std::chrono::milliseconds pause = slices > 0 ? slices * PollSlice : ShortPollPause(cycle);
    // One wait for the whole pause: a thousand quiet readers wake once per poll, not every
    // slice. A pause request, PollNow and the stop end it early; the state names the slice.
    // While lines wait for their names the reader is still making their entries.
    // Without showSleeping the state text says why the reader waits; taking waiting lines (and
    // telling the main thread of them) must not leave another text behind.
    const std::string keptState = showSleeping ? std::string() : State();
    const auto showResting = [&] {
        if (waiting != nullptr && waiting->Intake->WaitingCount() > 0) {
            SetState(reader_state::MakingEntry);
        } else if (showSleeping) {
            SetState(
                reader_state::SleepingFor(static_cast<int>(slices > 0 ? PollSlice.count() : pause.count())));
        } else {
            SetState(keptState);
        }
    };
    showResting();
    const auto until = std::chrono::steady_clock::now() + pause;
    std::unique_lock lock(HoldLock_);
    for (;;) {
        auto wakeAt = until;
        if (waiting != nullptr) {
            if (const auto due = waiting->Intake->OldestDeadline()) {
                wakeAt = std::min(wakeAt, *due);
            }
        }
        Resting_ = true;
        const bool woken = HoldCv_.wait_until(lock, wakeAt, [this, waiting] {
            return Terminated_ || PollNow_ || Paused_ || (waiting != nullptr && NamesAnswered_);
        });
        if (Parked_) {
            HoldCv_.wait(lock, [this] { return !Parked_; });
        }
        Resting_ = false;
        if (Terminated_) {
            return;
        }
        if (PollNow_) {
            PollNow_ = false;
            return;
        }
        if (Paused_) {
            // Held here until resumed, then the rest of the pause.
            lock.unlock();
            if (!SafePoint()) {
                return;
            }
            lock.lock();
            continue;
        }
        if (waiting != nullptr && (NamesAnswered_ || (!woken && wakeAt < until))) {
            NamesAnswered_ = false;
            lock.unlock();
            waiting->Taken();
            showResting();
            lock.lock();
            continue;
        }
        if (!woken) {
            return;
        }
    }
}

} // namespace kavel
