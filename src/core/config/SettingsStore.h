#pragma once

#include "base/Text.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace kavel {

// A setting's value: text, 32-bit integer or Boolean.
using SettingValue = std::variant<std::string, std::int32_t, bool>;

enum class SettingKind : std::uint8_t { Text = 0, Integer = 1, Boolean = 2 };

class SettingNotFoundError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class PersistenceModeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the errors above say.
namespace settings_error {
inline constexpr std::string_view NotFound = "Konfigurationseintrag nicht gefunden";
// The key's name stands between these.
inline constexpr std::string_view KeyNotFoundHead = "Konfigurationseintrag \"";
inline constexpr std::string_view KeyNotFoundTail = "\" nicht gefunden";
inline constexpr std::string_view IniFileNameMissing = "Name der Ini-Datei nicht angegeben";
} // namespace settings_error

struct Setting {
    std::string Section;
    std::string Key;
    SettingValue Value;
    SettingKind Kind = SettingKind::Text;
    DateTime ChangeTime;
    bool Modified = false;
};

// The per-user store that stands in for the registry: a key path below a root, with named
// string and integer values. The implementation keeps them in an INI file in the user's
// configuration folder.
class RegistryBackend {
public:
    virtual ~RegistryBackend() = default;
    // Reads a value of the key (path below the root, e.g. "Software\Quarnet\Kavel\Styles");
    // nothing when the key or value is missing.
    virtual std::optional<std::string> ReadString(const std::string& keyPath, const std::string& name) = 0;
    virtual std::optional<std::int32_t> ReadInteger(const std::string& keyPath, const std::string& name) = 0;
    // Writes a value, creating the key. Throws std::runtime_error when it cannot be stored.
    virtual void WriteString(const std::string& keyPath, const std::string& name,
                             const std::string& value) = 0;
    virtual void WriteInteger(const std::string& keyPath, const std::string& name, std::int32_t value) = 0;
};

enum class RootKey : std::uint8_t { CurrentUser, LocalMachine };

// Where a store keeps its values: the per-user registry stand-in, an INI file, or nowhere.
enum class Persistence : std::uint8_t { Registry = 0, IniFile = 1, None = 2 };

// A table of named, typed settings kept in an INI file, the per-user store or nowhere.
// Every operation holds the store's lock; keys are found through a hash of their
// ASCII-folded text, since readers ask for options on every parsed line.
class SettingsStore {
public:
    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    void SetRootKey(RootKey root);
    void SetIniFileName(const std::string& fileName);
    // An INI file without a file name throws PersistenceModeError; a value outside the
    // enumeration is ignored.
    void SetPersistenceMode(Persistence mode);
    Persistence PersistenceMode() const;
    // The registry stand-in used in mode 0; none means values are neither read nor written.
    void SetRegistryBackend(std::shared_ptr<RegistryBackend> backend);

    bool AddItem(const std::string& section, const std::string& key, SettingKind kind,
                 SettingValue defaultValue);
    std::size_t IndexOf(std::string_view key) const;
    std::size_t Count() const;

    SettingValue Value(std::string_view key) const;
    SettingValue ValueAt(std::size_t index) const;
    void SetValue(std::string_view key, SettingValue value);
    void SetValueAt(std::size_t index, SettingValue value);
    DateTime ChangeTime(std::string_view key) const;
    DateTime ChangeTimeAt(std::size_t index) const;

    // Typed reads; a value of another kind converts as the store would write it.
    bool Bool(std::string_view key) const;
    std::int32_t Int(std::string_view key) const;
    std::string Text(std::string_view key) const;

    // Writes every modified item. Throws std::runtime_error when the file cannot be written;
    // the items then stay modified. An INI file that exists but could not be read is never
    // written: the defaults in use would replace settings the user still has.
    void Save();
    // Why the INI file could not be read when the items were added; none when it was read or
    // does not exist.
    std::optional<std::string> ReadError() const;

    std::string RegistryPath() const;
    std::string IniFileName() const;

private:
    mutable std::mutex Lock_;
    RootKey RootKey_ = RootKey::CurrentUser;
    std::string RegistryPath_;
    std::string IniFileName_;
    Persistence PersistenceMode_ = Persistence::None;
    std::shared_ptr<RegistryBackend> Registry_;
    std::vector<Setting> Items_;
    std::optional<std::string> ReadError_;
    // Item positions by key, folded to lower case A-Z; the first item of a key wins.
    std::unordered_map<std::string, std::size_t, FoldedHash<AsciiLower>, FoldedEqual<AsciiLower>> Index_;

    std::size_t IndexOfLocked(std::string_view key) const;
};

// Reads for windows whose store may be missing or lack the key: the fallback then.
std::int32_t StoredInt(const SettingsStore* store, std::string_view key, std::int32_t fallback);
bool StoredBool(const SettingsStore* store, std::string_view key, bool fallback = false);

} // namespace kavel
