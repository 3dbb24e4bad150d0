#pragma once

#include "base/DefinitionFile.h"
#include "parsing/AccessRecord.h"
#include "parsing/Parsers.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavel {

class SettingsStore;

// The unit of a server's keep period; the values are those of the servers file.
enum class KeepUnit : std::int32_t { Days = 0, Hours = 1 };

inline constexpr int W3cFieldCount = 22;
inline constexpr std::uint32_t W3cAllFields = (1u << W3cFieldCount) - 1;

// The W3C identifiers in field-index order.
extern const char* const W3cFieldIdentifiers[W3cFieldCount];

// What a definition reaches of its reader: pause and resume (SetActive).
class ServerReader {
public:
    virtual ~ServerReader() = default;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
};

// What a server's node in the tree shows of its reader: resting, reading, paused, or its log
// missing.
enum class ServerStatus : std::uint8_t { Idle, Reading, Paused, Missing };

// What a definition reaches of its node in the server tree: its status after a pause and a
// resume (how the node looks while selected stays).
class ServerNode {
public:
    virtual ~ServerNode() = default;
    virtual void SetServerStatus(ServerStatus status) = 0;
};

// One monitored web server. Created, changed and freed on the main thread; its reader reads
// the fields while it runs, so every field is atomic or behind the definition's own lock.
class Server {
public:
    // Defaults of the table; the three option values come from the Options store now (none:
    // their built-in defaults).
    explicit Server(const SettingsStore* options = nullptr);

    std::string Name() const;
    void SetName(std::string name);
    // Unique over the process' life for each name given (and each server made): whoever keeps
    // a copy of the name knows it is still the name while this stays the same.
    std::uint64_t NameRevision() const { return NameRevision_.load(std::memory_order_acquire); }
    std::string LogFileName() const;
    void SetLogFileName(std::string logFileName);

    std::int32_t TimeDeleteAfter() const { return TimeDeleteAfter_.load(std::memory_order_relaxed); }
    void SetTimeDeleteAfter(std::int32_t v) { TimeDeleteAfter_.store(v, std::memory_order_relaxed); }
    KeepUnit TimeDeleteAfterUnit() const { return TimeDeleteAfterUnit_.load(std::memory_order_relaxed); }
    void SetTimeDeleteAfterUnit(KeepUnit v) { TimeDeleteAfterUnit_.store(v, std::memory_order_relaxed); }
    std::int32_t TimeRevisitorAfterMinutes() const {
        return TimeRevisitorAfterMinutes_.load(std::memory_order_relaxed);
    }
    void SetTimeRevisitorAfterMinutes(std::int32_t v) {
        TimeRevisitorAfterMinutes_.store(v, std::memory_order_relaxed);
    }
    std::int32_t TimeLogPollCycleInMs() const {
        return TimeLogPollCycleInMs_.load(std::memory_order_relaxed);
    }
    void SetTimeLogPollCycleInMs(std::int32_t v) {
        TimeLogPollCycleInMs_.store(v, std::memory_order_relaxed);
    }
    // NCSA Combined or W3C Extended; any other value read from the servers file is kept and
    // selects no parser.
    LogFormat LogType() const { return LogType_.load(std::memory_order_relaxed); }
    void SetLogType(LogFormat v) { LogType_.store(v, std::memory_order_relaxed); }
    // Bit i set: W3C field i is present.
    std::uint32_t W3cFields() const { return W3cFields_.load(std::memory_order_relaxed); }
    void SetW3cFields(std::uint32_t mask) {
        W3cFields_.store(mask & W3cAllFields, std::memory_order_relaxed);
    }
    bool W3cField(int index) const;
    void SetW3cField(int index, bool present);
    std::int32_t TimeZone() const { return TimeZone_.load(std::memory_order_relaxed); }
    void SetTimeZone(std::int32_t v) { TimeZone_.store(v, std::memory_order_relaxed); }
    // The field order of the last "#Fields:" directive its W3C log carried: it governs the
    // lines after it in place of W3cFields. Set by the reader thread, read by the parser.
    std::shared_ptr<const W3cFieldLayout> W3cLayout() const {
        const std::lock_guard<std::mutex> lock(TextLock_);
        return W3cLayout_;
    }
    void SetW3cLayout(std::shared_ptr<const W3cFieldLayout> layout) {
        const std::lock_guard<std::mutex> lock(TextLock_);
        W3cLayout_ = std::move(layout);
    }
    bool SoundOnAccess() const { return SoundOnAccess_.load(std::memory_order_relaxed); }
    void SetSoundOnAccess(bool v) { SoundOnAccess_.store(v, std::memory_order_relaxed); }
    bool PopupOnDocument() const { return PopupOnDocument_.load(std::memory_order_relaxed); }
    void SetPopupOnDocument(bool v) { PopupOnDocument_.store(v, std::memory_order_relaxed); }

    bool Active() const { return Active_.load(std::memory_order_acquire); }
    // Stores the flag; with a reader: false pauses it and shows it paused, true resumes it
    // and shows it idle unless the log file is missing (then only the flag changes).
    void SetActive(bool value);

    bool LogFileMissing() const { return LogFileMissing_.load(std::memory_order_acquire); }
    void SetLogFileMissing(bool v) { LogFileMissing_.store(v, std::memory_order_release); }
    // Entries of this server in the entry queue; changed under the queue's write lock.
    std::int32_t QueueCount() const { return QueueCount_.load(std::memory_order_relaxed); }
    void AddQueueCount(std::int32_t delta) { QueueCount_.fetch_add(delta, std::memory_order_relaxed); }

    ServerReader* Thread() const { return Thread_.load(std::memory_order_acquire); }
    void SetThread(ServerReader* thread) { Thread_.store(thread, std::memory_order_release); }
    ServerNode* TreeNode() const { return TreeNode_; }
    void SetTreeNode(ServerNode* node) { TreeNode_ = node; }

private:
    mutable std::mutex TextLock_;
    std::string Name_;
    std::atomic<std::uint64_t> NameRevision_;
    std::string LogFileName_;
    std::shared_ptr<const W3cFieldLayout> W3cLayout_;
    ServerNode* TreeNode_ = nullptr;
    std::atomic<std::int32_t> QueueCount_{0};
    std::atomic<bool> LogFileMissing_{false};
    std::atomic<ServerReader*> Thread_{nullptr};
    std::atomic<std::int32_t> TimeDeleteAfter_{3};
    std::atomic<KeepUnit> TimeDeleteAfterUnit_{KeepUnit::Days};
    std::atomic<std::int32_t> TimeRevisitorAfterMinutes_{10};
    std::atomic<std::int32_t> TimeLogPollCycleInMs_{5000};
    std::atomic<LogFormat> LogType_{LogFormat::Ncsa};
    std::atomic<std::uint32_t> W3cFields_{0};
    std::atomic<std::int32_t> TimeZone_{0};
    std::atomic<bool> SoundOnAccess_{false};
    std::atomic<bool> PopupOnDocument_{true};
    std::atomic<bool> Active_{false};
};

// The ordered list of definitions; it owns them. Main thread only. It also holds the lines of
// the servers file that gave no definition, each after the definitions that preceded it, so
// that the file written at the end still has them where the user put them.
class ServerList {
public:
    Server& Add(std::unique_ptr<Server> server);
    // Takes the definition out of the list and hands it back (stop its reader first). The kept
    // lines that followed it follow its predecessor.
    std::unique_ptr<Server> Take(Server* server);
    void Clear();
    // Keeps a line after the definitions now in the list.
    void KeepLine(std::size_t lineNumber, std::string line);
    const std::vector<KeptLine>& KeptLines() const { return Kept_; }
    std::size_t Count() const { return Items_.size(); }
    Server& operator[](std::size_t i) const { return *Items_[i]; }
    auto begin() const { return Items_.begin(); }
    auto end() const { return Items_.end(); }
    // Whether LoadServers ran in this run, so that SaveServers may write.
    bool Loaded = false;

private:
    std::vector<std::unique_ptr<Server>> Items_;
    std::vector<KeptLine> Kept_;
};

// One definition from its line of the servers file; nothing when the line does not convert.
std::unique_ptr<Server> LineToServer(std::string_view text, const SettingsStore* options = nullptr);
// The line of a definition; LineToServer reads it back field for field. The format neither
// quotes nor escapes, so a name or template is written in the form a field can hold: ";", CR
// and LF become blanks, a quote (" or ') that the text does not close becomes a blank (it
// would swallow the following separators), an empty text becomes one blank, and a name
// starting with "#" gets a blank in front (the line would read as a comment). Every other
// text, balanced quotes included, is written unchanged.
std::string ServerToLine(const Server& server);

// Empties the list and fills it from the servers file; onLoaded runs for each definition
// appended (tree node, reader). A line that gives no definition is kept in the list to be
// written back unchanged; the lines kept are returned for the report. Empty lines and "#"
// lines are dropped. Marks the list as loaded. Throws std::system_error when the file exists
// but cannot be read; the definitions read before stay.
UnreadLines LoadServers(const std::filesystem::path& file, ServerList& list, const SettingsStore* options,
                        const std::function<void(Server&)>& onLoaded = {});
// The servers file for the list: header, then the definitions with the kept lines between.
std::string ServersFileText(const ServerList& list);
// Writes the servers file (header and one line per definition), only when LoadServers ran
// in this run, so that a run ending before the load never replaces the stored definitions.
// Throws std::system_error when it cannot be written; the previous file then stays intact.
void SaveServers(const std::filesystem::path& file, const ServerList& list);

// The log file name of the template for the current moment.
std::string ExpandLogFileName(std::string_view logFileName);
inline std::string ExpandLogFileName(const Server& server) {
    return ExpandLogFileName(server.LogFileName());
}

} // namespace kavel
