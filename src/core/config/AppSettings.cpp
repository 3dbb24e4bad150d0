#include "config/AppSettings.h"

#include "config/IniRegistry.h"

#include <algorithm>

namespace kavel {

namespace {

constexpr const char* OptionsSection = "Options";
constexpr const char* StylesSection = "Styles";

constexpr std::int32_t DefaultTimeDeleteAfter = 3;
constexpr std::int32_t DefaultTimeDeleteAfterUnit = 0;
constexpr std::int32_t DefaultTimeRevisitorAfterMinutes = 10;
constexpr std::int32_t DefaultTimeLogPollCycleInMs = 5000;
constexpr bool DefaultMiscDnsResolve = true;
constexpr bool DefaultLogFollowNewFiles = true;
constexpr std::int32_t DefaultLogRotateGraceSeconds = 30;
constexpr std::int32_t DefaultMiscDnsDeadlineMs = 1500;
// About 30 MB of remembered names (NameCacheMemoryBench): a day of a busy server's visitors.
constexpr std::int32_t DefaultMiscDnsCacheSize = 100000;

// A store installed without the key (a test's own store) reads like no store at all.
template <class Read, class T>
T OptionOr(const SettingsStore* options, const char* key, T fallback, Read read) {
    if (options == nullptr)
        return fallback;
    try {
        return read(*options, key);
    } catch (const SettingNotFoundError&) {
        return fallback;
    }
}

std::int32_t IntegerOption(const SettingsStore* options, const char* key, std::int32_t fallback) {
    return OptionOr(options, key, fallback,
                    [](const SettingsStore& store, const char* k) { return store.Int(k); });
}

} // namespace

std::unique_ptr<SettingsStore> CreateOptionsStore(const std::filesystem::path& file) {
    auto options = std::make_unique<SettingsStore>();
    options->SetRootKey(RootKey::LocalMachine);
    options->SetIniFileName(file.string());
    options->SetPersistenceMode(Persistence::IniFile);
    options->AddItem(OptionsSection, "TimeDeleteAfter", SettingKind::Integer, DefaultTimeDeleteAfter);
    options->AddItem(OptionsSection, "TimeDeleteAfterUnit", SettingKind::Integer, DefaultTimeDeleteAfterUnit);
    options->AddItem(OptionsSection, "TimeRevisitorAfterMinutes", SettingKind::Integer,
                     DefaultTimeRevisitorAfterMinutes);
    options->AddItem(OptionsSection, "TimeLogPollCycleInMs", SettingKind::Integer,
                     DefaultTimeLogPollCycleInMs);
    options->AddItem(OptionsSection, "MiscDnsResolve", SettingKind::Boolean, DefaultMiscDnsResolve);
    options->AddItem(OptionsSection, "LogFollowNewFiles", SettingKind::Boolean, DefaultLogFollowNewFiles);
    options->AddItem(OptionsSection, "LogRotateGraceSeconds", SettingKind::Integer,
                     DefaultLogRotateGraceSeconds);
    options->AddItem(OptionsSection, "MiscDnsDeadlineMs", SettingKind::Integer, DefaultMiscDnsDeadlineMs);
    options->AddItem(OptionsSection, "MiscDnsCacheSize", SettingKind::Integer, DefaultMiscDnsCacheSize);
    return options;
}

std::unique_ptr<SettingsStore> CreateStylesStore(const std::filesystem::path& file,
                                                 const LayoutDefaults& defaults) {
    auto styles = std::make_unique<SettingsStore>();
    styles->SetRootKey(RootKey::CurrentUser);
    styles->SetRegistryBackend(std::make_shared<IniRegistry>(file));
    styles->SetPersistenceMode(Persistence::Registry);
    const auto add = [&styles](const char* key, SettingKind kind, SettingValue value) {
        styles->AddItem(StylesSection, key, kind, std::move(value));
    };
    add("ListViewRealtimeMode", SettingKind::Boolean, false);
    add("ListViewHideNonDocuments", SettingKind::Boolean, false);
    add("ListViewHideSpiders", SettingKind::Boolean, false);
    add("ListViewHideWords", SettingKind::Boolean, false);
    add("ListViewHideWordsWords", SettingKind::Text, std::string("Hier Wörter eintragen"));
    add("ListViewHideLocalReferers", SettingKind::Boolean, false);
    add("ListViewResolveDomains", SettingKind::Boolean, true);
    add("ListViewLogWidthes", SettingKind::Text, std::string());
    add("ListViewExceptionsWidthes", SettingKind::Text, std::string());
    add("MainWidth", SettingKind::Integer, std::int32_t{defaults.MainWidth});
    add("MainHeight", SettingKind::Integer, std::int32_t{defaults.MainHeight});
    // C++ division truncates toward zero, as the centring rule asks.
    add("MainLeft", SettingKind::Integer, std::int32_t{defaults.ScreenWidth / 2 - defaults.MainWidth / 2});
    add("MainTop", SettingKind::Integer, std::int32_t{defaults.ScreenHeight / 2 - defaults.MainHeight / 2});
    add("ShowInfoTips", SettingKind::Boolean, true);
    // Beyond the original table: the row colours and the quick filter.
    add("ListViewOutcomeColours", SettingKind::Boolean, true);
    add("QuickFilterText", SettingKind::Text, std::string());
    add("QuickFilterRegex", SettingKind::Boolean, false);
    add("QuickFilterCaseSensitive", SettingKind::Boolean, false);
    add("QuickFilterMarkOnly", SettingKind::Boolean, false);
    // The overview's span (0 the last hour, 1 today, 2 all that is kept) and its pages panel.
    add("OverviewSpan", SettingKind::Integer, std::int32_t{0});
    add("OverviewDocumentsOnly", SettingKind::Boolean, true);
    return styles;
}

bool OptionMiscDnsResolve(const SettingsStore* options) {
    return OptionOr(options, "MiscDnsResolve", DefaultMiscDnsResolve,
                    [](const SettingsStore& store, const char* key) { return store.Bool(key); });
}

bool OptionLogFollowNewFiles(const SettingsStore* options) {
    return OptionOr(options, "LogFollowNewFiles", DefaultLogFollowNewFiles,
                    [](const SettingsStore& store, const char* key) { return store.Bool(key); });
}

std::int32_t OptionLogRotateGraceSeconds(const SettingsStore* options) {
    return std::max<std::int32_t>(
        IntegerOption(options, "LogRotateGraceSeconds", DefaultLogRotateGraceSeconds), 0);
}

std::int32_t OptionMiscDnsDeadlineMs(const SettingsStore* options) {
    return std::max(IntegerOption(options, "MiscDnsDeadlineMs", DefaultMiscDnsDeadlineMs), std::int32_t{0});
}

std::int32_t OptionTimeDeleteAfter(const SettingsStore* options) {
    return IntegerOption(options, "TimeDeleteAfter", DefaultTimeDeleteAfter);
}

std::int32_t OptionTimeDeleteAfterUnit(const SettingsStore* options) {
    return IntegerOption(options, "TimeDeleteAfterUnit", DefaultTimeDeleteAfterUnit);
}

std::int32_t OptionTimeRevisitorAfterMinutes(const SettingsStore* options) {
    return IntegerOption(options, "TimeRevisitorAfterMinutes", DefaultTimeRevisitorAfterMinutes);
}

std::int32_t OptionTimeLogPollCycleInMs(const SettingsStore* options) {
    return IntegerOption(options, "TimeLogPollCycleInMs", DefaultTimeLogPollCycleInMs);
}

std::size_t OptionMiscDnsCacheSize(const SettingsStore* options) {
    return static_cast<std::size_t>(
        std::max(IntegerOption(options, "MiscDnsCacheSize", DefaultMiscDnsCacheSize), 1));
}

} // namespace kavel
