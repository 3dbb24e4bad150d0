#pragma once

#include "acquisition/Server.h"
#include "net/ReverseLookup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>

namespace kavel {

class EntryIntake;
class LogFileReader;
class LiveReaders;
class LogReader;
class LogEntry;
class RotatedLogFiles;
class Workspace;
struct FollowedFile;

// The state texts of a reader, shown in the main window's tips.
namespace reader_state {
inline constexpr std::string_view Created = "Thread wurde kreiert";
inline constexpr std::string_view Assigning = "Protokolldatei zuordnend";
inline constexpr std::string_view Positioning = "Protokolldatei positionierend";
inline constexpr std::string_view Refilling = "Protokolldateipuffer aktualisierend";
inline constexpr std::string_view AskingPosition = "Protokolldateiposition ermittelnd";
inline constexpr std::string_view AskingSize = "Protokolldateigröße ermittelnd";
inline constexpr std::string_view CheckingEnd = "Protokolldateiende prüfend";
inline constexpr std::string_view ReadingLine = "Protokolldateizeile lesend";
inline constexpr std::string_view MakingEntry = "Warteschlangeneintrag eintragend";
inline constexpr std::string_view Informing = "Hauptprogramm informierend";
inline constexpr std::string_view Sleeping = "Schlafend";
inline constexpr std::string_view Waking = "Aufwachend";
inline constexpr std::string_view FileMissing = "Protokolldatei fehlt";
inline constexpr std::string_view NotRegularFile = "Protokolldatei ist keine reguläre Datei";
// "Protokolldatei nicht lesbar: <reason>".
std::string Unreadable(std::string_view reason);
// "Schlafend für %d Millisekunden" for one slice of the poll pause.
std::string SleepingFor(int ms);
} // namespace reader_state

// Entries a reader queues before it tells the main thread and waits for it: live lines, and the
// lines of the log's history in a reader's first pass.
inline constexpr std::int32_t EntriesPerNotification = 10;
inline constexpr std::int32_t EntriesPerFirstPassNotification = 1000;

inline constexpr int PopupBeepHighHz = 1000;
inline constexpr int PopupBeepLowHz = 500;
inline constexpr int PopupBeepMs = 100;
inline constexpr const char* PopupCaption = "Dokumentzugriff";
// Filled with the page without its query, the client's host name and the server's name.
inline constexpr const char* PopupFormat = "Zugriff auf \r\n%s von %s für %s";

// What the readers show through the main thread: the status of a server's tree node and the
// new-document popup, with the mark of the document's visitor. Both are called on the main
// thread, inside the reader's synchronized call. Installed in the workspace's readers by the
// main window; when none is installed nobody shows them.
class ReaderView {
public:
    virtual ~ReaderView() = default;
    virtual void SetServerNodeStatus(Server& server, ServerStatus status) = 0;
    virtual void ShowPopup(const std::string& text, const std::string& caption, VisitorMark visitor) = 0;
};

// Why a reader goes to sleep until it is resumed.
enum class HoldReason : std::uint8_t { None, Activation, Notification, FileMissing };

// The main thread's half of the reader handshake (ReaderHandshake implements it). Both run on
// the main thread: OnReaderNotify from a posted call after the reader queued entries,
// SuspendReader inside the reader's synchronized call right after. Installed in the workspace's
// readers; when none is, a reader does not sleep after its notifications, and still waits for
// activation.
class ReaderMainThread {
public:
    virtual ~ReaderMainThread() = default;
    virtual void OnReaderNotify(LogReader& reader) = 0;
    virtual void SuspendReader(LogReader& reader) = 0;
};

// The reader of one server's log. It runs on its own thread and reaches the main thread only
// through the dispatcher. Suspension is cooperative: the main thread marks the reader
// suspended or paused, and the reader stops at its next safe point (after a synchronized call,
// between lines, between the slices of its poll pause), never while it holds the entry queue's
// lock or waits inside a synchronized call. A stop request wins over every kind of sleep.
class LogReader final : public ServerReader {
public:
    // Created, not running; state "Thread wurde kreiert". It queues into the workspace's
    // entries and reaches the main thread through the workspace's readers.
    explicit LogReader(Workspace& space);
    // Stops and waits for the body as StopReader does, when it still runs.
    ~LogReader() override;
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    // Before Start.
    void SetServer(kavel::Server& server) { Server_ = &server; }
    kavel::Server* Server() const { return Server_; }
    Workspace& Space() const { return Space_; }
    // Unique among the workspace's readers; a posted notification names its reader by it, so
    // that one arriving after the reader was freed finds nothing (LiveReaders).
    std::uint64_t Serial() const { return Serial_; }

    // Starts the thread body (the reader was created suspended).
    void Start();
    // Any thread: requests the stop and wakes the reader from any sleep.
    void Terminate();
    bool Terminated() const;
    // Main thread: blocks until the body has ended, running synchronized calls meanwhile (the
    // reader may be waiting in one). Another thread just joins.
    void WaitFor();
    bool Finished() const { return Finished_.load(std::memory_order_acquire); }
    // The end of the program, main thread: the reader stands still for good where it waits now,
    // or at its next safe point, without being woken (waking thousands of threads to end them
    // costs seconds; the process' end takes them along). Parked() tells when it stands still;
    // from then on it touches nothing but this object, which must therefore never be freed.
    void Park();
    bool Parked() const;
    // Once parked: the thread is let go of (detached), so that nothing waits for it or counts
    // it as forgotten when the process ends.
    void LetGoOfThread();

    std::string State() const;

    // The handshake, main thread: the reader stops at its next safe point until resumed.
    // Not marked when a stop was requested, nor for an activation wait of a server that is
    // already active again.
    void Suspend();
    bool Suspended() const;
    void ResumeSuspended();
    HoldReason CurrentHoldReason() const { return HoldReason_.load(std::memory_order_acquire); }

    // SetActive, main thread. Pause holds the reader at its next safe point until Resume;
    // Resume also ends the wait for activation. A paused reader is not Suspended() for the
    // handshake; the tips show it as suspended through Paused().
    void Pause() override;
    void Resume() override;
    bool Paused() const;

    // Whether the reader stands still at a safe point now, held by a suspension or a pause.
    bool Holding() const;
    // Ends the current poll pause at once (or skips the next one).
    void PollNow();
    // Passes over the file completed so far.
    std::uint64_t PassCount() const { return PassCount_.load(std::memory_order_acquire); }
    // Unterminated last lines given up: their file was truncated, or given up after its
    // rotation, before their line end arrived.
    std::uint64_t DroppedPartialLines() const { return DroppedPartialLines_.load(std::memory_order_acquire); }
    // Probe lines parsed by the start search.
    int ProbeCount() const { return ProbeCount_.load(std::memory_order_acquire); }
    // The system's id of the reader's thread once it runs (0 before), for looking at it from
    // outside (/proc/self/task/<id>).
    std::int64_t SystemThreadId() const { return SystemThreadId_.load(std::memory_order_acquire); }

private:
    // Why the reading of one file ended.
    enum class ReadEnd : std::uint8_t { Stopped, Lost, Replaced };
    // What carries over from one file to the next: the lines that wait for their names among
    // them.
    struct ReadProgress {
        EntryIntake* Intake = nullptr;
        // Entries queued in this pass.
        int Queued = 0;
        bool PendingInform = false;
        bool FirstPassDone = false;
    };

    void Execute();
    void Body();
    // Opens the log; the German text of what is wrong, or nothing.
    std::string OpenLog(LogFileReader& reader, const std::string& fileName);
    void ShowProblem(const std::string& problem);
    void PositionAtStart(LogFileReader& reader);
    ReadEnd ReadingLoop(FollowedFile& log, const std::string& fileName, bool follow, ReadProgress& progress,
                        RotatedLogFiles& rotated);
    bool LogReplaced(const LogFileReader& reader, const std::string& fileName) const;
    // Queues an entry for every complete line that has arrived in the file; an unterminated
    // last line waits for a later pass. False when a stop was requested.
    bool ReadNewLines(FollowedFile& file, ReadProgress& progress);
    // ReadNewLines without appending what is still being made in parallel.
    bool ReadLinesOf(FollowedFile& file, ReadProgress& progress);
    // The lines the web server still writes into the files its log was rotated away from.
    void ReadRotatedFiles(RotatedLogFiles& rotated, ReadProgress& progress);
    // The log was cut back under what was read: the lines written between the last pass and
    // the cut are read from the rotation's copy when it is found, then the log from its start.
    void RestartTruncatedLog(FollowedFile& log, const std::string& fileName, ReadProgress& progress);
    // A pass over the files begins: the settings its lines are made with are read.
    void StartPass(ReadProgress& progress);
    // Appends what the first pass made in parallel; the lines that follow are made here.
    void EndParallelParse(ReadProgress& progress);
    // After each entry queued: the node shows the reading, every tenth entry notifies.
    void EntryQueued(ReadProgress& progress);
    // Takes the lines that wait for their names (all of them, their names or deadlines waited
    // for, with all; else those ready) and notifies.
    void TakeWaitingLines(ReadProgress& progress, bool all);
    // The poll pause, taking waiting lines as their names arrive or their deadlines pass.
    void PauseWithWaitingLines(ReadProgress& progress, bool showSleeping);
    // Notifies for the entries queued since the last notification.
    void EndPass(ReadProgress& progress);
    void DropPartialLines(std::uint64_t count);
    void MissingFileStep();
    void InformMain(bool firstPassDone);
    void SleepUntilResumed(HoldReason reason);
    // The node's status; reading waits for the pass' first entry.
    void SetTreeStatus(ServerStatus status);
    void ShowReadingStatusIfDue();
    // Asks the main thread to show the status unless it is what it showed last.
    void ShowTreeStatus(ServerStatus status);
    // Runs call on the main thread and waits; a failure there becomes the state text.
    void RunOnMainThread(const std::function<void()>& call);
    // Lines that wait for their names during a pause: whose they are, and what follows their
    // taking (the main thread is told).
    struct WaitingLines {
        EntryIntake* Intake;
        std::function<void()> Taken;
    };
    // showSleeping false keeps the state text (a missing log says why it is waited for). With
    // waiting lines the pause wakes when one of their names is answered or the oldest one's
    // deadline passes, takes what is ready and rests again until the poll is due.
    void PollPause(bool showSleeping = true, const WaitingLines* waiting = nullptr);
    // Waits while suspended or paused; false when a stop was requested.
    bool SafePoint();
    void SetState(std::string_view state);

    Workspace& Space_;
    kavel::Server* Server_ = nullptr;
    // Shared with the calls posted for this reader, which may run after it is gone.
    const std::shared_ptr<LiveReaders> Live_;
    const std::uint64_t Serial_;
    std::thread Thread_;
    // The last thing the thread does with the program's objects is setting it.
    std::atomic<bool> Finished_{false};
    std::atomic<std::uint64_t> PassCount_{0};
    std::atomic<int> ProbeCount_{0};
    std::atomic<std::int64_t> SystemThreadId_{0};
    std::atomic<std::uint64_t> DroppedPartialLines_{0};
    std::atomic<HoldReason> HoldReason_{HoldReason::None};
    // Notified when a name the reader's lines wait for is answered; interrupted by the stop.
    const std::shared_ptr<AnswerSignal> NameAnswers_;
    // Reader thread only: the status last shown, and whether reading is due.
    std::optional<ServerStatus> ShownStatus_;
    bool ReadingStatusDue_ = false;

    // Guards the state text.
    mutable std::shared_mutex StateLock_;
    std::string State_;

    // Guards the run flags below; the reader sleeps on HoldCv_.
    mutable std::mutex HoldLock_;
    std::condition_variable HoldCv_;
    bool Terminated_ = false;
    bool Suspended_ = false;
    bool Paused_ = false;
    bool PollNow_ = false;
    bool Holding_ = false;
    bool Parked_ = false;
    // Inside a wait on HoldCv_, which a parked reader never leaves.
    bool Resting_ = false;
    // A name that lines of the reader wait for was answered.
    bool NamesAnswered_ = false;
};

// The start search: a bisection over byte offsets between low and high for where the lines
// within the keep period begin (the log is in time order). isWithinKeep(line) tells whether a
// probe line yields an entry; probes counts the probe lines parsed.
std::int64_t FindStart(LogFileReader& reader, std::int64_t low, std::int64_t high,
                       const std::function<bool(std::string)>& isWithinKeep, int* probes = nullptr);

// Slices of 500 ms of a poll pause (the remainder is not slept), and the one short pause used
// when the interval is below one slice so that a reader never spins.
int PollPauseSlices(std::int32_t pollCycleMs);
std::chrono::milliseconds ShortPollPause(std::int32_t pollCycleMs);

} // namespace kavel
