#include "config/PoolConfig.h"

#include "acquisition/PoolSystem.h"
#include "config/IniFile.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

#include <algorithm>
#include <system_error>

namespace kavel {

namespace {

constexpr int RegistryMode = 0;
constexpr int IniMode = 1;
constexpr int NoPersistence = 2;

// Variant comparison: same kind by value, texts byte for byte with case. Values of different
// kinds never compare equal, so a value whose kind changed is always written.
bool SameValue(const TConfValue& a, const TConfValue& b) {
    return a == b;
}

std::string AsText(const TConfValue& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return std::to_string(*number);
    return std::get<bool>(value) ? "1" : "0";
}

std::int32_t AsInteger(const TConfValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return *number;
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? 1 : 0;
    return ParseProfileInteger(std::get<std::string>(value)).value_or(0);
}

bool AsBoolean(const TConfValue& value) {
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
    throw EConfItemNotFound("Konfigurationseintrag nicht gefunden");
}

} // namespace

TConfig::TConfig()
    : RegistryPath_("Software\\" + GetVersionInfoValue({}, "CompanyName") + "\\" + GetProductName() + "\\")
    , IniFileName_((platform::Paths::HomeDir() / (GetProductName() + ".ini")).string()) {}

TConfig::~TConfig() = default;

void TConfig::SetRootKey(TRootKey root) {
    std::lock_guard guard(Lock_);
    RootKey_ = root;
}

void TConfig::SetIniFileName(const std::string& fileName) {
    std::lock_guard guard(Lock_);
    IniFileName_ = fileName;
}

void TConfig::SetPersistenceMode(int mode) {
    std::lock_guard guard(Lock_);
    if (mode == IniMode && IniFileName_.empty())
        throw EConfPersistenceModeNotValid("Name der Ini-Datei nicht angegeben");
    if (mode == RegistryMode || mode == IniMode || mode == NoPersistence)
        PersistenceMode_ = mode;
}

int TConfig::GetPersistenceMode() const {
    std::lock_guard guard(Lock_);
    return PersistenceMode_;
}

void TConfig::SetRegistryBackend(std::shared_ptr<TRegistryBackend> backend) {
    std::lock_guard guard(Lock_);
    Registry_ = std::move(backend);
}

bool TConfig::AddItem(const std::string& section, const std::string& key, TConfKind kind,
                      TConfValue defaultValue) {
    std::lock_guard guard(Lock_);
    TConfItem item;
    item.Section = section;
    item.Key = key;
    item.Value = std::move(defaultValue);
    item.Kind = kind;
    item.ChangeTime = platform::Now();
    item.Modified = false;

    bool found = false;
    if (PersistenceMode_ == RegistryMode && Registry_) {
        const std::string keyPath = RegistryPath_ + section;
        if (kind == TConfKind::Text) {
            if (auto text = Registry_->ReadString(keyPath, key)) {
                item.Value = std::move(*text);
                found = true;
            }
        } else if (auto number = Registry_->ReadInteger(keyPath, key)) {
            if (kind == TConfKind::Integer)
                item.Value = *number;
            else
                item.Value = *number != 0;
            found = true;
        }
    } else if (PersistenceMode_ == IniMode) {
        // A file that cannot be read counts as missing: the defaults apply.
        std::optional<TIniFile> ini;
        try {
            ini.emplace(IniFileName_);
        } catch (const std::system_error&) {
        }
        // A value that is there but does not convert still counts as read: the key exists,
        // the default stands in for its value.
        if (ini && ini->ValueExists(section, key)) {
            found = true;
            switch (kind) {
            case TConfKind::Text:
                item.Value = ini->ReadString(section, key, AsText(item.Value));
                break;
            case TConfKind::Integer:
                item.Value = ini->ReadInteger(section, key, AsInteger(item.Value));
                break;
            case TConfKind::Boolean:
                item.Value = ini->ReadBool(section, key, AsBoolean(item.Value));
                break;
            }
        }
    }
    Items_.push_back(std::move(item));
    return found;
}

// Without the lock: items are registered only during start-up, before any other thread looks.
std::size_t TConfig::IndexOf(std::string_view key) const {
    for (std::size_t i = 0; i < Items_.size(); ++i)
        if (EqualsAsciiIgnoreCase(Items_[i].Key, key))
            return i;
    throw EConfItemNotFound("Konfigurationseintrag \"" + std::string(key) + "\" nicht gefunden");
}

std::size_t TConfig::Count() const {
    std::lock_guard guard(Lock_);
    return Items_.size();
}

TConfValue TConfig::GetValue(std::string_view key) const {
    return GetValueAt(IndexOf(key));
}

TConfValue TConfig::GetValueAt(std::size_t index) const {
    std::lock_guard guard(Lock_);
    if (index >= Items_.size())
        ThrowNotFoundAt();
    return Items_[index].Value;
}

void TConfig::SetValue(std::string_view key, TConfValue value) {
    SetValueAt(IndexOf(key), std::move(value));
}

void TConfig::SetValueAt(std::size_t index, TConfValue value) {
    std::lock_guard guard(Lock_);
    if (index >= Items_.size())
        ThrowNotFoundAt();
    TConfItem& item = Items_[index];
    const bool changed = !SameValue(item.Value, value);
    item.Value = std::move(value);
    if (changed) {
        item.Modified = true;
        item.ChangeTime = platform::Now();
    }
}

TDateTime TConfig::GetChangeTime(std::string_view key) const {
    return GetChangeTimeAt(IndexOf(key));
}

TDateTime TConfig::GetChangeTimeAt(std::size_t index) const {
    std::lock_guard guard(Lock_);
    if (index >= Items_.size())
        ThrowNotFoundAt();
    return Items_[index].ChangeTime;
}

bool TConfig::GetBool(std::string_view key) const {
    return AsBoolean(GetValue(key));
}

std::int32_t TConfig::GetInt(std::string_view key) const {
    return AsInteger(GetValue(key));
}

std::string TConfig::GetText(std::string_view key) const {
    return AsText(GetValue(key));
}

void TConfig::Save() {
    std::lock_guard guard(Lock_);
    const bool anyModified =
        std::any_of(Items_.begin(), Items_.end(), [](const TConfItem& item) { return item.Modified; });
    if (!anyModified)
        return;
    if (PersistenceMode_ == IniMode) {
        // One read and one atomic write for all items: the file never holds half a save.
        TIniFile ini(IniFileName_);
        for (const TConfItem& item : Items_) {
            if (!item.Modified)
                continue;
            switch (item.Kind) {
            case TConfKind::Text:
                ini.WriteString(item.Section, item.Key, AsText(item.Value));
                break;
            case TConfKind::Integer:
                ini.WriteInteger(item.Section, item.Key, AsInteger(item.Value));
                break;
            case TConfKind::Boolean:
                ini.WriteBool(item.Section, item.Key, AsBoolean(item.Value));
                break;
            }
        }
        ini.UpdateFile();
        for (TConfItem& item : Items_)
            item.Modified = false;
        return;
    }
    for (TConfItem& item : Items_) {
        if (!item.Modified)
            continue;
        if (PersistenceMode_ == RegistryMode && Registry_) {
            const std::string keyPath = RegistryPath_ + item.Section;
            switch (item.Kind) {
            case TConfKind::Text:
                Registry_->WriteString(keyPath, item.Key, AsText(item.Value));
                break;
            case TConfKind::Integer:
                Registry_->WriteInteger(keyPath, item.Key, AsInteger(item.Value));
                break;
            case TConfKind::Boolean:
                Registry_->WriteInteger(keyPath, item.Key, AsBoolean(item.Value) ? 1 : 0);
                break;
            }
        }
        item.Modified = false;
    }
}

std::string TConfig::RegistryPath() const {
    std::lock_guard guard(Lock_);
    return RegistryPath_;
}

std::string TConfig::IniFileName() const {
    std::lock_guard guard(Lock_);
    return IniFileName_;
}

} // namespace kavel
