#include "acquisition/ProgramLifecycle.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "parsing/AlertRules.h"
#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"
#include "platform/Paths.h"

#include <exception>

namespace kavel {

ProgramLifecycle::ProgramLifecycle(ReportError reportError)
    : ReportError_(std::move(reportError)) {}

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
    RemoveStaleTemporaryFiles(platform::Paths::HomeDir(),
                              {"kavel.servers", "kavel.spiders", "kavel.documents", "kavel.buddies",
                               "kavel.revisitors", "kavel.config", "kavel.alerts"});
    Revisitors().Clear();
    Revisitors().SetLoaded(false);
    const std::stop_token stop = Stop_.get_token();
    DocumentsRead_ = Load("kavel.documents", [&stop] { LoadDocuments(stop); });
    BuddiesRead_ = Load("kavel.buddies", [&stop] { LoadBuddies(stop); });
    SpidersRead_ = Load("kavel.spiders", [this, &stop] { ReportUnread("kavel.spiders", LoadSpiders(stop)); });
    Entries().Clear();
    Servers().Clear();
    Servers().Loaded = false;
}

std::unique_ptr<SettingsStore> ProgramLifecycle::CreateOptions() {
    std::unique_ptr<SettingsStore> options = CreateOptionsStore();
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
        const RevisitorLoad load = LoadRevisitors(stop);
        ReportUnread("kavel.revisitors", UnreadLines{load.Malformed, load.FirstMalformedLine});
    });
    RevisitorsLoaded_ = Revisitors().Loaded();
    ServersLoaded_ = Load("kavel.servers", [this, &onServerLoaded] {
        const UnreadLines unread = LoadServers([&onServerLoaded](Server& server) {
            if (onServerLoaded)
                onServerLoaded(server);
            StartReader(server);
        });
        ReportUnread("kavel.servers", unread);
    });
    if (!ServersLoaded_)
        Servers().Loaded = false;
}

void ProgramLifecycle::LoadAlerts(AlertRuleList& rules) {
    Load("kavel.alerts",
         [this, &rules] { ReportUnread("kavel.alerts", LoadAlertRules(AlertRulesFile(), rules)); });
}

void ProgramLifecycle::StopReaders(const std::function<void(const std::string&)>& showStatus) {
    StopAllReaders(showStatus);
}

void ProgramLifecycle::Finish(SettingsStore* options, SettingsStore* styles) {
    if (Finished_)
        return;
    Finished_ = true;
    // Readers still running would use what is finished below.
    StopAllReaders();
    try {
        if (ServersLoaded_)
            SaveServers();
    } catch (const std::exception& error) {
        WriteFailed_ = true;
        Report("kavel.servers", error);
    }
    Readers().Clear();
    Entries().Clear();
    Servers().Clear();
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
    save(DocumentsRead_, "kavel.documents", [] { SaveDocuments(); });
    save(BuddiesRead_, "kavel.buddies", [] { SaveBuddies(); });
    save(SpidersRead_, "kavel.spiders", [] { SaveSpiders(); });
    save(RevisitorsLoaded_, "kavel.revisitors", [] { SaveRevisitors(); });
    save(options != nullptr, "kavel.config", [options] { options->Save(); });
    save(styles != nullptr, "styles", [styles] { styles->Save(); });
}

} // namespace kavel
