#pragma once

#include "acquisition/DisplayFilters.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "net/ReverseLookup.h"
#include "parsing/ClassificationLists.h"

#include <atomic>
#include <filesystem>
#include <string_view>

namespace kavel {

class SettingsStore;

// Everything one watch works on: the home folder with its definition files, the name cache,
// the classification lists, the entry queue, the readers, the servers and the display filters.
// The desktop program, the command line and every test make their own; two live side by side
// without seeing each other. The parts are made in the program's start order and undone in the
// reverse one, the readers stopped before anything they use goes.
//
// The two configuration stores belong to whoever made them (the main window, a command, a
// test); the workspace only reads them. None installed: every option has its built-in default,
// every view switch is off.
class Workspace {
public:
    explicit Workspace(std::filesystem::path home);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const std::filesystem::path& Home() const { return Home_; }
    // The home folder's definition file with the extension (".servers", ".spiders").
    std::filesystem::path DefinitionFile(std::string_view extension) const;

    // Any thread: readers read the options while the main thread may install a store.
    SettingsStore* Options() const { return Options_.load(std::memory_order_acquire); }
    SettingsStore* Styles() const { return Styles_.load(std::memory_order_acquire); }
    // The name cache takes its size from the options ("MiscDnsCacheSize").
    void SetOptions(SettingsStore* options);
    void SetStyles(SettingsStore* styles);

    NameCache& Names() { return Names_; }
    ClassificationLists& Lists() { return Lists_; }
    const ClassificationLists& Lists() const { return Lists_; }
    RevisitorList& Revisitors() { return Lists_.Revisitors; }
    DocumentList& Documents() { return Lists_.Documents; }
    BuddyList& Buddies() { return Lists_.Buddies; }
    SpiderList& Spiders() { return Lists_.Spiders; }
    const SpiderList& Spiders() const { return Lists_.Spiders; }
    EntryQueue& Entries() { return Entries_; }
    const EntryQueue& Entries() const { return Entries_; }
    ReaderRegistry& Readers() { return Readers_; }
    ServerList& Servers() { return Servers_; }
    const ServerList& Servers() const { return Servers_; }
    DisplayFilters& Filters() { return Filters_; }

private:
    std::filesystem::path Home_;
    std::atomic<SettingsStore*> Options_{nullptr};
    std::atomic<SettingsStore*> Styles_{nullptr};
    NameCache Names_;
    ClassificationLists Lists_;
    EntryQueue Entries_;
    ReaderRegistry Readers_;
    ServerList Servers_;
    DisplayFilters Filters_;
};

} // namespace kavel
