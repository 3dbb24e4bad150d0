#include "base/VersionInfo.h"

#include "base/Text.h"
#include "platform/VersionInfo.h"

namespace kavel {

std::string VersionInfoValue(std::string_view /*fileName*/, std::string_view key) {
    struct Entry {
        const char* Key;
        const char* Value;
    };
    static constexpr Entry Values[] = {
        {"ProductName", platform::version::ProductName},
        {"CompanyName", platform::version::CompanyName},
        {"FileDescription", platform::version::FileDescription},
        {"FileVersion", platform::version::FileVersion},
        {"LegalCopyright", platform::version::LegalCopyright},
    };
    for (const Entry& entry : Values)
        if (EqualsAsciiIgnoreCase(entry.Key, key))
            return entry.Value;
    return "?";
}

std::string ProductName() {
    return VersionInfoValue({}, "ProductName");
}

} // namespace kavel
