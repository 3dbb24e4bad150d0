#pragma once

#include "config/SettingsStore.h"

#include <filesystem>
#include <mutex>

namespace kavel {

// The per-user registry stand-in: one INI file (the styles file). A key path
// below the root, such as "Software\Quarnet\Kavel\Styles", maps to the INI section named after
// its last element ("Styles"); the value names are the keys of that section. The leading part
// of the path only says whose settings they are, and the file itself already lies in the
// company's and product's folder, so it is not repeated inside. Integers are written in
// decimal; a stored text that is not a number reads as a missing integer.
class IniRegistry final : public RegistryBackend {
public:
    explicit IniRegistry(std::filesystem::path file);

    // The section of a key path: its last non-empty element, separated by "\" or "/".
    static std::string SectionOf(std::string_view keyPath);

    // Missing or unreadable file, section or value: nothing.
    std::optional<std::string> ReadString(const std::string& keyPath, const std::string& name) override;
    std::optional<std::int32_t> ReadInteger(const std::string& keyPath, const std::string& name) override;
    // Creates the file and its folder when missing; other lines of the file stay. Throws
    // std::system_error when the file cannot be read or written.
    void WriteString(const std::string& keyPath, const std::string& name, const std::string& value) override;
    void WriteInteger(const std::string& keyPath, const std::string& name, std::int32_t value) override;

    const std::filesystem::path& FileName() const { return File_; }

private:
    std::mutex Lock_;
    std::filesystem::path File_;
};

} // namespace kavel
