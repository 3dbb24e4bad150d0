// Any bytes as one NCSA log line: the parser must drop or accept it, never crash.

#include "acquisition/Queue.h"
#include "acquisition/Servers.h"
#include "config/MainConfig.h"
#include "config/PoolConfig.h"
#include "parsing/Documents.h"
#include "parsing/Revisitors.h"
#include "parsing/Spiders.h"

#include <cstddef>
#include <cstdint>
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
        kavel::Spiders().Assign({{"bot.example", false}, {"", true}, {"1", false}});
        kavel::Documents().Assign({".html", "", ".php"});
        kavel::Buddies().Assign({"a", "\xE4"});
        Server.SetLogType(0);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TSetup setup;
    auto entry = std::make_unique<kavel::TQueue>(std::string(reinterpret_cast<const char*>(data), size),
                                                 &setup.Server);
    kavel::ParseEntry(*entry);
    if (!entry->Access) {
        entry->Access.reset();
        setup.Server.SetTimeDeleteAfter(1000000);
        kavel::ParseNCSA(*entry);
    }
    if (const kavel::TFilter* record = entry->Access.get()) {
        (void)record->BrowserImage();
        (void)record->VisitorImage();
        (void)record->PageWithoutQuery();
        (void)kavel::DocumentExtension(record->Page());
        (void)kavel::Dequote(record->Referer());
        kavel::EntryQueue().Append(std::move(entry));
    }
    if (kavel::EntryQueue().GetCount() > 1000) {
        kavel::EntryQueue().Clear();
        kavel::Revisitors().Clear();
    }
    return 0;
}
