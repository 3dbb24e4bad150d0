#include "config/SettingsStore.h"

#include "base/Text.h"
#include "base/VersionInfo.h"
#include "config/IniFile.h"
#include "platform/Clock.h"

#include <algorithm>
#include <system_error>

namespace kavel {

namespace {

constexpr Persistence RegistryMode = Persistence::Registry;
constexpr Persistence IniMode = Persistence::IniFile;
constexpr Persistence NoPersistence = Persistence::None;

// Variant comparison: same kind by value, texts byte for byte with case. Values of different
// kinds never compare equal, so a value whose kind changed is always written.
bool SameValue(const SettingValue& a, const SettingValue& b) {
    return a == b;
}

std::string AsText(const SettingValue& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return std::to_string(*number);
    return std::get<bool>(value) ? "1" : "0";
}

std::int32_t AsInteger(const SettingValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return *number;
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? 1 : 0;
    return ParseProfileInteger(std::get<std::string>(value)).value_or(0);
}

bool AsBoolean(const SettingValue& value) {
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag;
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return *number != 0;
    const std::string& text = std::get<std::string>(value);
    if (const auto number = ParseProfileInteger(text))
        return *number != 0;
    return EqualsAsciiIgnoreCase(text, "true");
}

[[noreturn]] void ThrowNotFoundAt() {
    throw SettingNotFoundError(std::string(settings_error::NotFound));
}

} // namespace

SettingsStore::SettingsStore()
    : RegistryPath_("Software\\" + VersionInfoValue({}, "CompanyName") + "\\" + ProductName() + "\\") {}

SettingsStore::~SettingsStore() = default;

void SettingsStore::SetRootKey(RootKey root) {
    std::lock_guard guard(Lock_);
    RootKey_ = root;
}

void SettingsStore::SetIniFileName(const std::string& fileName) {
    std::lock_guard guard(Lock_);
    IniFileName_ = fileName;
}

void SettingsStore::SetPersistenceMode(Persistence mode) {
    std::lock_guard guard(Lock_);
    if (mode == IniMode && IniFileName_.empty())
        throw PersistenceModeError(std::string(settings_error::IniFileNameMissing));
    if (mode == RegistryMode || mode == IniMode || mode == NoPersistence)
        PersistenceMode_ = mode;
}

Persistence SettingsStore::PersistenceMode() const {
    std::lock_guard guard(Lock_);
    return PersistenceMode_;
}

void SettingsStore::SetRegistryBackend(std::shared_ptr<RegistryBackend> backend) {
    std::lock_guard guard(Lock_);
    Registry_ = std::move(backend);
}

bool SettingsStore::AddItem(const std::string& section, const std::string& key, SettingKind kind,
                            SettingValue defaultValue) {
    std::lock_guard guard(Lock_);
    Setting item;
    item.Section = section;
    item.Key = key;
    item.Value = std::move(defaultValue);
    item.Kind = kind;
    item.ChangeTime = platform::Now();
    item.Modified = false;

    bool found = false;
    if (PersistenceMode_ == RegistryMode && Registry_) {
        const std::string keyPath = RegistryPath_ + section;
        if (kind == SettingKind::Text) {
            if (auto text = Registry_->ReadString(keyPath, key)) {
                item.Value = std::move(*text);
                found = true;
            }
        } else if (auto number = Registry_->ReadInteger(keyPath, key)) {
            if (kind == SettingKind::Integer)
                item.Value = *number;
            else
                item.Value = *number != 0;
            found = true;
        }
    } else if (PersistenceMode_ == IniMode) {
        // A file that cannot be read gives the defaults, and the reason is kept for the caller
        // to report; Save then leaves the file alone.
        std::optional<IniFile> ini;
        try {
            ini.emplace(IniFileName_);
        } catch (const std::system_error& error) {
            if (!ReadError_)
                ReadError_ = error.what();
        }
        // A value that is there but does not convert still counts as read: the key exists,
        // the default stands in for its value.
        if (ini && ini->ValueExists(section, key)) {
            found = true;
            switch (kind) {
            case SettingKind::Text:
                item.Value = ini->ReadString(section, key, AsText(item.Value));
                break;
            case SettingKind::Integer:
                item.Value = ini->ReadInteger(section, key, AsInteger(item.Value));
                break;
            case SettingKind::Boolean:
                item.Value = ini->ReadBool(section, key, AsBoolean(item.Value));
                break;
            }
        }
    }
    Index_.try_emplace(item.Key, Items_.size());
    Items_.push_back(std::move(item));
    return found;
}

std::size_t SettingsStore::IndexOf(std::string_view key) const {
    std::lock_guard guard(Lock_);
    return IndexOfLocked(key);
}

std::size_t SettingsStore::IndexOfLocked(std::string_view key) const {
    const auto found = Index_.find(key);
    if (found == Index_.end())
        throw SettingNotFoundError(std::string(settings_error::KeyNotFoundHead) + std::string(key) +
                                   std::string(settings_error::KeyNotFoundTail));
    return found->second;
}

std::size_t SettingsStore::Count() const {
    std::lock_guard guard(Lock_);
    return Items_.size();
}

SettingValue SettingsStore::Value(std::string_view key) const {
    std::lock_guard guard(Lock_);
    return Items_[IndexOfLocked(key)].Value;
}

SettingValue SettingsStore::ValueAt(std::size_t index) const {
    std::lock_guard guard(Lock_);
    if (index >= Items_.size())
        ThrowNotFoundAt();
    return Items_[index].Value;
}

void SettingsStore::SetValue(std::string_view key, SettingValue value) {
    const std::size_t index = IndexOf(key);
    SetValueAt(index, std::move(value));
}

void SettingsStore::SetValueAt(std::size_t index, SettingValue value) {
    std::lock_guard guard(Lock_);
    if (index >= Items_.size())
        ThrowNotFoundAt();
    Setting& item = Items_[index];
    const bool changed = !SameValue(item.Value, value);
    item.Value = std::move(value);
    if (changed) {
        item.Modified = true;
        item.ChangeTime = platform::Now();
    }
}

DateTime SettingsStore::ChangeTime(std::string_view key) const {
    std::lock_guard guard(Lock_);
    return Items_[IndexOfLocked(key)].ChangeTime;
}

DateTime SettingsStore::ChangeTimeAt(std::size_t index) const {
    std::lock_guard guard(Lock_);
    if (index >= Items_.size())
        ThrowNotFoundAt();
    return Items_[index].ChangeTime;
}

bool SettingsStore::Bool(std::string_view key) const {
    return AsBoolean(Value(key));
}

std::int32_t SettingsStore::Int(std::string_view key) const {
    return AsInteger(Value(key));
}

std::string SettingsStore::Text(std::string_view key) const {
    return AsText(Value(key));
}

void SettingsStore::Save() {
    std::lock_guard guard(Lock_);
    const bool anyModified =
        std::any_of(Items_.begin(), Items_.end(), [](const Setting& item) { return item.Modified; });
    if (!anyModified)
        return;
    if (PersistenceMode_ == IniMode) {
        if (ReadError_)
            return;
        // One read and one atomic write for all items: the file never holds half a save.
        IniFile ini(IniFileName_);
        for (const Setting& item : Items_) {
            if (!item.Modified)
                continue;
            switch (item.Kind) {
            case SettingKind::Text:
                ini.WriteString(item.Section, item.Key, AsText(item.Value));
                break;
            case SettingKind::Integer:
                ini.WriteInteger(item.Section, item.Key, AsInteger(item.Value));
                break;
            case SettingKind::Boolean:
                ini.WriteBool(item.Section, item.Key, AsBoolean(item.Value));
                break;
            }
        }
        ini.UpdateFile();
        for (Setting& item : Items_)
            item.Modified = false;
        return;
    }
    for (Setting& item : Items_) {
        if (!item.Modified)
            continue;
        if (PersistenceMode_ == RegistryMode && Registry_) {
            const std::string keyPath = RegistryPath_ + item.Section;
            switch (item.Kind) {
            case SettingKind::Text:
                Registry_->WriteString(keyPath, item.Key, AsText(item.Value));
                break;
            case SettingKind::Integer:
                Registry_->WriteInteger(keyPath, item.Key, AsInteger(item.Value));
                break;
            case SettingKind::Boolean:
                Registry_->WriteInteger(keyPath, item.Key, AsBoolean(item.Value) ? 1 : 0);
                break;
            }
        }
        item.Modified = false;
    }
}

std::optional<std::string> SettingsStore::ReadError() const {
    std::lock_guard guard(Lock_);
    return ReadError_;
}

std::string SettingsStore::RegistryPath() const {
    std::lock_guard guard(Lock_);
    return RegistryPath_;
}

std::string SettingsStore::IniFileName() const {
    std::lock_guard guard(Lock_);
    return IniFileName_;
}

std::int32_t StoredInt(const SettingsStore* store, std::string_view key, std::int32_t fallback) {
    if (store == nullptr)
        return fallback;
    try {
        return store->Int(key);
    } catch (const SettingNotFoundError&) {
        return fallback;
    }
}

bool StoredBool(const SettingsStore* store, std::string_view key, bool fallback) {
    if (store == nullptr)
        return fallback;
    try {
        return store->Bool(key);
    } catch (const SettingNotFoundError&) {
        return fallback;
    }
}

} // namespace kavel
