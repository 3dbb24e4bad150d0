#pragma once

#include "acquisition/Servers.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>

namespace kavel {

class SharedLogReader;
class TLogThread;
class TQueue;

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
// "Schlafend für %d Millisekunden" for one slice of the poll pause.
std::string SleepingFor(int ms);
} // namespace reader_state

// Images of a server's tree node that the reader sets.
namespace reader_image {
inline constexpr int Reading = 10;
inline constexpr int ReadingSelected = 11;
inline constexpr int Idle = 1;
inline constexpr int IdleSelected = 3;
inline constexpr int Missing = 4;
} // namespace reader_image

inline constexpr int PopupBeepHighHz = 1000;
inline constexpr int PopupBeepLowHz = 500;
inline constexpr int PopupBeepMs = 100;
inline constexpr const char* PopupCaption = "Dokumentzugriff";
// Filled with the page without its query, the client's host name and the server's name.
inline constexpr const char* PopupFormat = "Zugriff auf \r\n%s von %s für %s";

// What the readers show through the main thread: the tree node images and the new-document
// popup. Both are called on the main thread, inside the reader's synchronized call. Installed
// process-wide by the main window; when none is installed nobody shows them.
class TReaderView {
public:
    virtual ~TReaderView() = default;
    virtual void SetServerNodeImages(TServer& server, int image, int selectedImage) = 0;
    virtual void ShowPopup(const std::string& text, const std::string& caption, int image) = 0;
};
void SetReaderView(TReaderView* view);
TReaderView* ReaderView();

// Why a reader goes to sleep until it is resumed.
enum class TSleepReason : std::uint8_t { None, Activation, Notification, FileMissing };

// The main thread's half of the reader handshake (ReaderHandshake implements it). Both run on
// the main thread: OnReaderNotify from a posted call after the reader queued entries,
// SuspendReader inside the reader's synchronized call right after. When none is installed, a
// reader does not sleep after its notifications, and still waits for activation.
class TReaderMainThread {
public:
    virtual ~TReaderMainThread() = default;
    virtual void OnReaderNotify(TLogThread& reader) = 0;
    virtual void SuspendReader(TLogThread& reader) = 0;
};
void SetReaderMainThread(TReaderMainThread* handshake);
TReaderMainThread& ReaderMainThread();

// The reader of one server's log. It runs on its own thread and reaches the main thread only
// through the dispatcher. Suspension is cooperative: the main thread marks the reader
// suspended or paused, and the reader stops at its next safe point (after a synchronized call,
// between lines, between the slices of its poll pause), never while it holds the entry queue's
// lock or waits inside a synchronized call. A stop request wins over every kind of sleep.
class TLogThread final : public TServerReader {
public:
    // Created, not running; state "Thread wurde kreiert".
    TLogThread();
    // Stops and waits for the body as StopReader does, when it still runs.
    ~TLogThread() override;
    TLogThread(const TLogThread&) = delete;
    TLogThread& operator=(const TLogThread&) = delete;

    // Before Start.
    void SetServer(TServer& server) { Server_ = &server; }
    TServer* Server() const { return Server_; }
    // Unique over the process' life; a posted notification names its reader by it, so that
    // one arriving after the reader was freed finds nothing.
    std::uint64_t Serial() const { return Serial_; }
    // Main thread: the live reader of that serial, or none.
    static TLogThread* FindLive(std::uint64_t serial);

    // Starts the thread body (the reader was created suspended).
    void Start();
    // Any thread: requests the stop and wakes the reader from any sleep.
    void Terminate();
    bool Terminated() const;
    // Main thread: blocks until the body has ended, running synchronized calls meanwhile (the
    // reader may be waiting in one). Another thread just joins.
    void WaitFor();
    bool Finished() const { return Finished_.load(std::memory_order_acquire); }

    std::string State() const;

    // The handshake, main thread: the reader stops at its next safe point until resumed.
    // Not marked when a stop was requested, nor for an activation wait of a server that is
    // already active again.
    void Suspend();
    bool Suspended() const;
    void ResumeSuspended();
    TSleepReason SleepReason() const { return SleepReason_.load(std::memory_order_acquire); }

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
    // Probe lines parsed by the start search.
    int ProbeCount() const { return ProbeCount_.load(std::memory_order_acquire); }

private:
    void Execute();
    void Body();
    void ReadingLoop(SharedLogReader& reader, bool& lost);
    void MissingFileStep();
    void InformMain(bool firstPassDone);
    void SleepUntilResumed(TSleepReason reason);
    void SetTreeStatus(int image, int selectedImage);
    void PollPause();
    // Waits while suspended or paused; false when a stop was requested.
    bool SafePoint();
    void SetState(std::string_view state);

    TServer* Server_ = nullptr;
    const std::uint64_t Serial_;
    std::thread Thread_;
    std::atomic<bool> Finished_{false};
    std::atomic<std::uint64_t> PassCount_{0};
    std::atomic<int> ProbeCount_{0};
    std::atomic<TSleepReason> SleepReason_{TSleepReason::None};

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
};

// The start search: a bisection over byte offsets between low and high for where the lines
// within the keep period begin (the log is in time order). isWithinKeep(line) tells whether a
// probe line yields an entry; probes counts the probe lines parsed.
std::int64_t FindStart(SharedLogReader& reader, std::int64_t low, std::int64_t high,
                       const std::function<bool(std::string)>& isWithinKeep, int* probes = nullptr);

// A queue entry for the line of the server, parsed and within its keep period; else nothing.
std::unique_ptr<TQueue> MakeEntry(std::string line, TServer& server);

// Slices of 500 ms of a poll pause (the remainder is not slept), and the one short pause used
// when the interval is below one slice so that a reader never spins.
int PollPauseSlices(std::int32_t pollCycleMs);
std::chrono::milliseconds ShortPollPause(std::int32_t pollCycleMs);

// Forgets the second of the last beep and the entry of the last popup, which all readers
// share; for tests that start from a quiet state.
void ResetReaderNotificationMemory();

} // namespace kavel
