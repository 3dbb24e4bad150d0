#include "acquisition/Startup.h"

#include "acquisition/LogBase.h"
#include "acquisition/Queue.h"
#include "acquisition/Servers.h"
#include "config/PoolConfig.h"
#include "parsing/Documents.h"
#include "parsing/Revisitors.h"
#include "parsing/Spiders.h"

#include <exception>

namespace kavel {

TProgramLifecycle::TProgramLifecycle(TReportError reportError)
    : ReportError_(std::move(reportError)) {}

void TProgramLifecycle::Report(const std::string& what, const std::exception& error) const {
    if (ReportError_)
        ReportError_(what + ": " + error.what());
}

void TProgramLifecycle::CreateObjects() {
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
    EntryQueue().Clear();
    ServerList().Clear();
    ServerList().Loaded = false;
}

void TProgramLifecycle::LoadDefinitions(const std::function<void(TServer&)>& onServerLoaded) {
    try {
        const TRevisitorLoad load = LoadRevisitors();
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
        LoadServers([&onServerLoaded](TServer& server) {
            if (onServerLoaded)
                onServerLoaded(server);
            StartReader(server);
        });
        ServersLoaded_ = ServerList().Loaded;
    } catch (const std::exception& error) {
        ServersLoaded_ = false;
        ServerList().Loaded = false;
        Report("kavel.servers", error);
    }
}

void TProgramLifecycle::StopReaders(const std::function<void(const std::string&)>& showStatus) {
    StopAllReaders(showStatus);
}

void TProgramLifecycle::Finish(TConfig* options, TConfig* styles) {
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
    ReaderTable().Clear();
    EntryQueue().Clear();
    ServerList().Clear();
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
