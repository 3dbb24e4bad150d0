// Any bytes as one W3C log line; the first four bytes choose the field set and the zone.

#include "acquisition/Queue.h"
#include "acquisition/Servers.h"
#include "config/MainConfig.h"
#include "config/PoolConfig.h"
#include "parsing/Documents.h"
#include "parsing/Revisitors.h"
#include "parsing/Spiders.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

struct TSetup {
    kavel::TConfig Options;
    kavel::TServer Server;

    TSetup() {
        Options.SetPersistenceMode(2);
        Options.AddItem("Options", "MiscDnsResolve", kavel::TConfKind::Boolean, false);
        Options.AddItem("Options", "TimeRevisitorAfterMinutes", kavel::TConfKind::Integer, std::int32_t{1});
        kavel::SetOptions(&Options);
        kavel::Spiders().Assign({{"bot.example", false}, {"10.", true}});
        kavel::Documents().Assign({".asp", ".htm"});
        kavel::Buddies().Assign({"friend"});
        Server.SetLogType(1);
        Server.SetTimeDeleteAfter(1000000);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TSetup setup;
    if (size < 4)
        return 0;
    std::uint32_t choice;
    std::memcpy(&choice, data, 4);
    setup.Server.SetW3CFields(choice);
    setup.Server.SetTimeZone(static_cast<std::int32_t>(choice >> 24) - 128);
    auto entry = std::make_unique<kavel::TQueue>(
        std::string(reinterpret_cast<const char*>(data) + 4, size - 4), &setup.Server);
    kavel::ParseW3C(*entry);
    if (entry->Access) {
        const auto& record = static_cast<const kavel::TFilterW3C&>(*entry->Access);
        (void)record.BrowserImage();
        (void)record.VisitorImage();
        (void)record.ServerHostName();
        (void)record.DateText();
        kavel::EntryQueue().Append(std::move(entry));
    }
    if (kavel::EntryQueue().GetCount() > 1000) {
        kavel::EntryQueue().Clear();
        kavel::Revisitors().Clear();
    }
    return 0;
}
