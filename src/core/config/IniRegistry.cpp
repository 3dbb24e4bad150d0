#include "config/IniRegistry.h"

#include "config/IniFile.h"

#include <system_error>

namespace kavel {

IniRegistry::IniRegistry(std::filesystem::path file)
    : File_(std::move(file)) {}

std::string IniRegistry::SectionOf(std::string_view keyPath) {
    while (!keyPath.empty() && (keyPath.back() == '\\' || keyPath.back() == '/'))
        keyPath.remove_suffix(1);
    const std::size_t separator = keyPath.find_last_of("\\/");
    return std::string(separator == std::string_view::npos ? keyPath : keyPath.substr(separator + 1));
}

std::optional<std::string> IniRegistry::ReadString(const std::string& keyPath, const std::string& name) {
    std::lock_guard guard(Lock_);
    try {
        return IniFile(File_).ReadString(SectionOf(keyPath), name);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

std::optional<std::int32_t> IniRegistry::ReadInteger(const std::string& keyPath, const std::string& name) {
    const auto text = ReadString(keyPath, name);
    if (!text)
        return std::nullopt;
    return ParseProfileInteger(*text);
}

void IniRegistry::WriteString(const std::string& keyPath, const std::string& name, const std::string& value) {
    std::lock_guard guard(Lock_);
    if (File_.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(File_.parent_path(), ec);
        if (ec)
            throw std::system_error(ec, "cannot create " + File_.parent_path().string());
    }
    IniFile ini(File_);
    ini.WriteString(SectionOf(keyPath), name, value);
    ini.UpdateFile();
}

void IniRegistry::WriteInteger(const std::string& keyPath, const std::string& name, std::int32_t value) {
    WriteString(keyPath, name, std::to_string(value));
}

} // namespace kavel
