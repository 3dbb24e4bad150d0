#include "acquisition/ProgramLifecycle.h"

#include "acquisition/EntryQueue.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "config/SettingsStore.h"
#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"

#include <exception>

namespace kavel {

ProgramLifecycle::ProgramLifecycle(ReportError reportError)
    : ReportError_(std::move(reportError)) {}

void ProgramLifecycle::Report(const std::string& what, const std::exception& error) const {
    if (ReportError_)
        ReportError_(what + ": " + error.what());
}

void ProgramLifecycle::CreateObjects() {
    Revisitors().Clear();
    Revisitors().SetLoaded(false);
    try {
        LoadDocuments();
        DocumentsRead_ = true;
    } catch (const std::exception& error) {
        Report("kavel.documents", error);
    }
    try {
        LoadBuddies();
        BuddiesRead_ = true;
    } catch (const std::exception& error) {
        Report("kavel.buddies", error);
    }
    try {
        LoadSpiders();
        SpidersRead_ = true;
    } catch (const std::exception& error) {
        Report("kavel.spiders", error);
    }
    Entries().Clear();
    Servers().Clear();
    Servers().Loaded = false;
}

void ProgramLifecycle::LoadDefinitions(const std::function<void(Server&)>& onServerLoaded) {
    try {
        const RevisitorLoad load = LoadRevisitors();
        RevisitorsLoaded_ = Revisitors().Loaded();
        if (load.FirstMalformedLine && ReportError_)
            ReportError_("kavel.revisitors: " + std::to_string(load.Malformed) +
                         " malformed line(s) skipped, the first is line " +
                         std::to_string(*load.FirstMalformedLine));
    } catch (const std::exception& error) {
        // The servers are loaded all the same: their file is rewritten from memory at the end.
        Report("kavel.revisitors", error);
    }
    try {
        LoadServers([&onServerLoaded](Server& server) {
            if (onServerLoaded)
                onServerLoaded(server);
            StartReader(server);
        });
        ServersLoaded_ = Servers().Loaded;
    } catch (const std::exception& error) {
        ServersLoaded_ = false;
        Servers().Loaded = false;
        Report("kavel.servers", error);
    }
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
