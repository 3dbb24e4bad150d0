#include "acquisition/ProgramLifecycle.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "parsing/AlertRules.h"
#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"

#include <exception>

namespace kavel {

ProgramLifecycle::ProgramLifecycle(Workspace& space, ReportError reportError)
    : Space_(space)
    , ReportError_(std::move(reportError)) {}

void ProgramLifecycle::Report(const std::string& what, const std::exception& error) const {
    if (ReportError_)
        ReportError_(what + ": " + error.what());
}

void ProgramLifecycle::ReportUnread(const char* file, const UnreadLines& unread) const {
    if (unread.Count > 0 && ReportError_)
        ReportError_(DescribeUnreadLines(file, unread));
}

bool ProgramLifecycle::Load(const char* file, const std::function<void()>& load) {
    if (Stop_.stop_requested())
        return false;
    try {
        load();
        return true;
    } catch (const LoadStoppedError&) {
        return false;
    } catch (const std::exception& error) {
        ReadFailed_ = true;
        Report(file, error);
        return false;
    }
}

void ProgramLifecycle::CreateObjects() {
    RemoveStaleTemporaryFiles(Space_.Home(),
                              {"kavel.servers", "kavel.spiders", "kavel.documents", "kavel.buddies",
                               "kavel.revisitors", "kavel.config", "kavel.alerts"});
    Space_.Revisitors().Clear();
    Space_.Revisitors().SetLoaded(false);
    const std::stop_token stop = Stop_.get_token();
    DocumentsRead_ = Load("kavel.documents", [this, &stop] {
        Space_.Documents().Assign(LoadNameListFile(Space_.DefinitionFile(".documents"), stop));
    });
    BuddiesRead_ = Load("kavel.buddies", [this, &stop] {
        Space_.Buddies().Assign(LoadNameListFile(Space_.DefinitionFile(".buddies"), stop));
    });
    SpidersRead_ = Load("kavel.spiders", [this, &stop] {
        ReportUnread("kavel.spiders", LoadSpiders(Space_.DefinitionFile(".spiders"), Space_.Spiders(), stop));
    });
    Space_.Entries().Clear();
    Space_.Servers().Clear();
    Space_.Servers().Loaded = false;
}

std::unique_ptr<SettingsStore> ProgramLifecycle::CreateOptions() {
    std::unique_ptr<SettingsStore> options = CreateOptionsStore(Space_.DefinitionFile(".config"));
    if (const std::optional<std::string> error = options->ReadError()) {
        ReadFailed_ = true;
        if (ReportError_)
            ReportError_("kavel.config: " + *error);
    }
    return options;
}

void ProgramLifecycle::LoadDefinitions(const std::function<void(Server&)>& onServerLoaded) {
    const std::stop_token stop = Stop_.get_token();
    // The servers are loaded even when this fails: their file is rewritten from memory at the end.
    Load("kavel.revisitors", [this, &stop] {
        const RevisitorLoad load =
            LoadRevisitors(Space_.DefinitionFile(".revisitors"), Space_.Revisitors(), stop);
        ReportUnread("kavel.revisitors", UnreadLines{load.Malformed, load.FirstMalformedLine});
    });
    RevisitorsLoaded_ = Space_.Revisitors().Loaded();
    ServersLoaded_ = Load("kavel.servers", [this, &onServerLoaded] {
        const UnreadLines unread = LoadServers(Space_.DefinitionFile(".servers"), Space_.Servers(),
                                               Space_.Options(), [this, &onServerLoaded](Server& server) {
                                                   if (onServerLoaded)
                                                       onServerLoaded(server);
                                                   Space_.Readers().Start(server);
                                               });
        ReportUnread("kavel.servers", unread);
    });
    if (!ServersLoaded_)
        Space_.Servers().Loaded = false;
}

void ProgramLifecycle::LoadAlerts(AlertRuleList& rules) {
    Load("kavel.alerts", [this, &rules] {
        ReportUnread("kavel.alerts", LoadAlertRules(Space_.DefinitionFile(".alerts"), rules));
    });
}

void ProgramLifecycle::StopReaders(const std::function<void(const std::string&)>& showStatus) {
    Space_.Readers().ParkAll(showStatus);
}

void ProgramLifecycle::Finish(SettingsStore* options, SettingsStore* styles) {
    if (Finished_)
        return;
    Finished_ = true;
    // Readers still running would use what is finished below.
    Space_.Readers().StopAll();
    try {
        if (ServersLoaded_)
            SaveServers(Space_.DefinitionFile(".servers"), Space_.Servers());
    } catch (const std::exception& error) {
        WriteFailed_ = true;
        Report("kavel.servers", error);
    }
    Space_.Readers().Clear();
    Space_.Entries().Clear();
    Space_.Servers().Clear();
    const auto save = [this](bool wasRead, const char* file, const std::function<void()>& saver) {
        if (!wasRead)
            return;
        try {
            saver();
        } catch (const std::exception& error) {
            WriteFailed_ = true;
            Report(file, error);
        }
    };
    save(DocumentsRead_, "kavel.documents",
         [this] { SaveNameListFile(Space_.DefinitionFile(".documents"), Space_.Documents().Items()); });
    save(BuddiesRead_, "kavel.buddies",
         [this] { SaveNameListFile(Space_.DefinitionFile(".buddies"), Space_.Buddies().Items()); });
    save(SpidersRead_, "kavel.spiders",
         [this] { SaveSpiders(Space_.DefinitionFile(".spiders"), Space_.Spiders()); });
    save(RevisitorsLoaded_ && Space_.Revisitors().Loaded(), "kavel.revisitors",
         [this] { SaveRevisitors(Space_.DefinitionFile(".revisitors"), Space_.Revisitors()); });
    save(options != nullptr, "kavel.config", [options] { options->Save(); });
    save(styles != nullptr, "styles", [styles] { styles->Save(); });
}

} // namespace kavel
