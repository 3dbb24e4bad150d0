// Any bytes as one W3C log line; the first four bytes choose the field set and the zone.

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
#include <cstring>
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
        Space.Spiders().Assign({{"bot.example", false}, {"10.", true}});
        Space.Documents().Assign({".asp", ".htm"});
        Space.Buddies().Assign({"friend"});
        Settings = kavel::EntrySettings::Of(Space);
        Server.SetLogType(kavel::LogFormat::W3c);
        Server.SetTimeDeleteAfter(1000000);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    if (size < 4)
        return 0;
    std::uint32_t choice;
    std::memcpy(&choice, data, 4);
    setup.Server.SetW3cFields(choice);
    setup.Server.SetTimeZone(static_cast<std::int32_t>(choice >> 24) - 128);
    auto entry =
        kavel::LogEntry::Make(std::string(reinterpret_cast<const char*>(data) + 4, size - 4), &setup.Server);
    kavel::ParseEntry(*entry, setup.Settings, kavel::KeepPeriod::Ignored);
    kavel::fuzz::CheckOnePieceAgrees(*entry, setup.Server, setup.Settings);
    if (entry->Access()) {
        const auto& record = static_cast<const kavel::W3cRecord&>(*entry->Access());
        (void)record.Browser();
        (void)record.Visitor();
        (void)record.ServerHostName();
        (void)record.DateText();
        setup.Space.Entries().Append(std::move(entry));
    }
    if (setup.Space.Entries().Count() > 1000) {
        setup.Space.Entries().Clear();
        setup.Space.Revisitors().Clear();
    }
    return 0;
}
