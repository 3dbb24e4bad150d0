// Any bytes as one NCSA log line: the parser must drop or accept it, never crash.

#include "OnePieceCheck.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace {

struct Setup {
    kavel::Workspace Space{std::filesystem::temp_directory_path()};
    kavel::SettingsStore Options;
    kavel::Server Server;
    kavel::EntrySettings Settings;

    Setup() {
        Options.SetPersistenceMode(kavel::Persistence::None);
        Options.AddItem("Options", "MiscDnsResolve", kavel::SettingKind::Boolean, false);
        Options.AddItem("Options", "TimeRevisitorAfterMinutes", kavel::SettingKind::Integer, std::int32_t{1});
        Space.SetOptions(&Options);
        Space.Spiders().Assign({{"bot.example", false}, {"", true}, {"1", false}});
        Space.Documents().Assign({".html", "", ".php"});
        Space.Buddies().Assign({"a", "\xE4"});
        Settings = kavel::EntrySettings::Of(Space);
        Server.SetLogType(kavel::LogFormat::Ncsa);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    auto entry = kavel::LogEntry::Make(std::string(reinterpret_cast<const char*>(data), size), &setup.Server);
    kavel::ParseEntry(*entry, setup.Settings);
    if (!entry->Access()) {
        entry->SetAccess(nullptr);
        setup.Server.SetTimeDeleteAfter(1000000);
        kavel::ParseEntry(*entry, setup.Settings, kavel::KeepPeriod::Ignored);
    }
    kavel::fuzz::CheckOnePieceAgrees(*entry, setup.Server, setup.Settings);
    if (const kavel::AccessRecord* record = entry->Access()) {
        (void)record->Browser();
        (void)record->Visitor();
        (void)record->PageWithoutQuery();
        (void)kavel::DocumentExtension(record->Page());
        setup.Space.Entries().Append(std::move(entry));
    }
    if (setup.Space.Entries().Count() > 1000) {
        setup.Space.Entries().Clear();
        setup.Space.Revisitors().Clear();
    }
    return 0;
}
