#include "acquisition/Workspace.h"

#include "config/AppSettings.h"
#include "platform/Paths.h"

#include <utility>

namespace kavel {

Workspace::Workspace(std::filesystem::path home)
    : Home_(std::move(home))
    , Readers_(*this) {}

Workspace::~Workspace() {
    // The readers use the queue, the lists, the servers and the name cache.
    Readers_.Clear();
}

std::filesystem::path Workspace::DefinitionFile(std::string_view extension) const {
    return platform::Paths::DefinitionFileIn(Home_, extension);
}

void Workspace::SetOptions(SettingsStore* options) {
    Options_.store(options, std::memory_order_release);
    Names_.SetCapacity(OptionMiscDnsCacheSize(options));
}

void Workspace::SetStyles(SettingsStore* styles) {
    Styles_.store(styles, std::memory_order_release);
    Filters_.SetStyles(styles);
}

} // namespace kavel
