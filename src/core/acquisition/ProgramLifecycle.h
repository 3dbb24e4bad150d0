#pragma once

#include "base/DefinitionFile.h"

#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace kavel {

class AlertRuleList;
class SettingsStore;
class Server;
class Workspace;

// The life of a workspace's objects in the program's order, shared by the desktop program
// and the headless watcher: lists before windows, revisitors and servers at the first idle
// moment, readers stopped before anything they use is finished, and the files written back in
// the reverse order of creation.
//
// A definition file that could not be read is never written back, so a passing read error
// cannot turn into lost definitions; every error is handed to the error report and the start
// or the end goes on. Lines of a file that gave no definition are reported once and written
// back unchanged.
class ProgramLifecycle {
public:
    using ReportError = std::function<void(const std::string& message)>;
    // The life of the workspace's parts and files.
    explicit ProgramLifecycle(Workspace& space, ReportError reportError = {});

    // Before any window: temporary files that a killed save left in the home folder removed,
    // an empty revisitor list, the documents, buddies and spiders lists read from their files,
    // an empty queue, reader table and server list.
    void CreateObjects();
    // The Options store on the ".config" file; a file that exists but cannot be read is
    // reported, the defaults apply and the file is not written at the end.
    std::unique_ptr<SettingsStore> CreateOptions();
    // The first idle moment: the revisitors, then the servers; onServerLoaded runs for each
    // definition (the tree node), then its reader is started. Nothing is loaded once a stop
    // was requested.
    void LoadDefinitions(const std::function<void(Server&)>& onServerLoaded = {});
    // The alert rules ("kavel.alerts"), after the servers they name; their lines that give no
    // rule are reported once. A file that cannot be read leaves the list unloaded, so that it
    // is never written over.
    void LoadAlerts(AlertRuleList& rules);
    // Ends a load in progress (from any thread, e.g. on Ctrl+C): the list being read is left
    // unread and is not written back, the lists after it are not read.
    void RequestStop() { Stop_.request_stop(); }
    bool StopRequested() const { return Stop_.stop_requested(); }
    // Closing: every reader is stopped and waited for until it stands still for good (its
    // thread ends with the process); showStatus gets "Die Verbindung zu der Protokolldatei "%s"
    // wird gelöst..." for each server.
    void StopReaders(const std::function<void(const std::string&)>& showStatus = {});
    // After the message loop, in the reverse order of creation: the servers file (only when
    // it was loaded in this run), the reader table, the queue, the documents, buddies and
    // spiders files, the revisitors file (only when loaded), then the configuration stores
    // options and styles (either may be null).
    void Finish(SettingsStore* options, SettingsStore* styles);

    bool ServersLoaded() const { return ServersLoaded_; }
    bool RevisitorsLoaded() const { return RevisitorsLoaded_; }
    // Whether a definition file or the options file existed but could not be read.
    bool ReadFailed() const { return ReadFailed_; }
    // Whether Finish could not write a file back (a full disk, a read-only home).
    bool WriteFailed() const { return WriteFailed_; }

private:
    void Report(const std::string& what, const std::exception& error) const;
    // Runs load; a read error is reported and marks the run, a stopped load is not an error.
    // Whether the load completed.
    bool Load(const char* file, const std::function<void()>& load);
    void ReportUnread(const char* file, const UnreadLines& unread) const;

    Workspace& Space_;
    ReportError ReportError_;
    bool DocumentsRead_ = false;
    bool BuddiesRead_ = false;
    bool SpidersRead_ = false;
    bool RevisitorsLoaded_ = false;
    bool ServersLoaded_ = false;
    bool Finished_ = false;
    bool ReadFailed_ = false;
    bool WriteFailed_ = false;
    std::stop_source Stop_;
};

} // namespace kavel
