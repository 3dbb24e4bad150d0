// INI profiles from anywhere: any bytes parse, a written value reads back as written (blanks
// around it aside, line ends as blanks), and writing one key never changes another key's value.
#include "config/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

std::string Expected(std::string_view value) {
    std::string text(value);
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    const std::size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

struct Probe {
    const char* Section;
    const char* Key;
};

constexpr Probe Probes[] = {{"Options", "A"}, {"Options", "B"}, {"Styles", "A"}, {"options", "b"}, {"", "A"}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The last bytes, up to the final NUL, are the value to write; the rest is the file.
    const std::size_t split = input.rfind('\0');
    const std::string_view text = split == std::string_view::npos ? input : input.substr(0, split);
    const std::string_view value =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    kavel::IniFile ini = kavel::IniFile::FromText(std::string(text));
    std::optional<std::string> before[std::size(Probes)];
    for (std::size_t i = 0; i < std::size(Probes); ++i) {
        before[i] = ini.ReadString(Probes[i].Section, Probes[i].Key);
        (void)ini.ReadInteger(Probes[i].Section, Probes[i].Key, 0);
    }

    ini.WriteString("Options", "A", value);
    Check(ini.ReadString("Options", "A") == Expected(value));
    Check(ini.ReadString("options", "a") == Expected(value));
    for (std::size_t i = 0; i < std::size(Probes); ++i) {
        const std::string_view section = Probes[i].Section;
        const std::string_view key = Probes[i].Key;
        const bool written = (section == "Options" || section == "options") && (key == "A" || key == "a");
        if (!written)
            Check(ini.ReadString(section, key) == before[i]);
    }
    return 0;
}
