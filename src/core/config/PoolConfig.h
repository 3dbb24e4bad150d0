#pragma once

#include "platform/DateTime.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kavel {

// A setting's value: text, 32-bit integer or Boolean.
using TConfValue = std::variant<std::string, std::int32_t, bool>;

enum class TConfKind : std::uint8_t { Text = 0, Integer = 1, Boolean = 2 };

class EConfItemNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EConfPersistenceModeNotValid : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TConfItem {
    std::string Section;
    std::string Key;
    TConfValue Value;
    TConfKind Kind = TConfKind::Text;
    TDateTime ChangeTime;
    bool Modified = false;
};

// The per-user store that stands in for the registry: a key path below a root, with named
// string and integer values. The implementation keeps them in an INI file in the user's
// configuration folder.
class TRegistryBackend {
public:
    virtual ~TRegistryBackend() = default;
    // Reads a value of the key (path below the root, e.g. "Software\Quarnet\Kavel\Styles");
    // nothing when the key or value is missing.
    virtual std::optional<std::string> ReadString(const std::string& keyPath, const std::string& name) = 0;
    virtual std::optional<std::int32_t> ReadInteger(const std::string& keyPath, const std::string& name) = 0;
    // Writes a value, creating the key. Throws std::runtime_error when it cannot be stored.
    virtual void WriteString(const std::string& keyPath, const std::string& name,
                             const std::string& value) = 0;
    virtual void WriteInteger(const std::string& keyPath, const std::string& name, std::int32_t value) = 0;
};

enum class TRootKey : std::uint8_t { CurrentUser, LocalMachine };

// A table of named, typed settings kept in an INI file, the per-user store or nowhere.
// Every operation but the key look-up holds the store's lock.
class TConfig {
public:
    TConfig();
    ~TConfig();
    TConfig(const TConfig&) = delete;
    TConfig& operator=(const TConfig&) = delete;

    void SetRootKey(TRootKey root);
    void SetIniFileName(const std::string& fileName);
    // 0 registry, 1 INI file, 2 none.
    void SetPersistenceMode(int mode);
    int GetPersistenceMode() const;
    // The registry stand-in used in mode 0; none means values are neither read nor written.
    void SetRegistryBackend(std::shared_ptr<TRegistryBackend> backend);

    bool AddItem(const std::string& section, const std::string& key, TConfKind kind, TConfValue defaultValue);
    std::size_t IndexOf(std::string_view key) const;
    std::size_t Count() const;

    TConfValue GetValue(std::string_view key) const;
    TConfValue GetValueAt(std::size_t index) const;
    void SetValue(std::string_view key, TConfValue value);
    void SetValueAt(std::size_t index, TConfValue value);
    TDateTime GetChangeTime(std::string_view key) const;
    TDateTime GetChangeTimeAt(std::size_t index) const;

    // Typed reads; a value of another kind converts as the store would write it.
    bool GetBool(std::string_view key) const;
    std::int32_t GetInt(std::string_view key) const;
    std::string GetText(std::string_view key) const;

    // Writes every modified item. Throws std::runtime_error when the file cannot be written;
    // the items then stay modified.
    void Save();

    std::string RegistryPath() const;
    std::string IniFileName() const;

private:
    mutable std::mutex Lock_;
    TRootKey RootKey_ = TRootKey::CurrentUser;
    std::string RegistryPath_;
    std::string IniFileName_;
    int PersistenceMode_ = 2;
    std::shared_ptr<TRegistryBackend> Registry_;
    std::vector<TConfItem> Items_;
};

} // namespace kavel
