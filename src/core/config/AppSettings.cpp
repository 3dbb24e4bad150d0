#include "config/AppSettings.h"

#include "config/IniRegistry.h"
#include "platform/Paths.h"

#include <algorithm>
#include <atomic>

namespace kavel {

namespace {

std::atomic<SettingsStore*> TheOptions{nullptr};
std::atomic<SettingsStore*> TheStyles{nullptr};

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

// A store installed without the key (a test's own store) reads like no store at all.
template <class Read, class T>
T OptionOr(const char* key, T fallback, Read read) {
    const SettingsStore* options = TheOptions.load(std::memory_order_acquire);
    if (options == nullptr)
        return fallback;
    try {
        return read(*options, key);
    } catch (const SettingNotFoundError&) {
        return fallback;
    }
}

std::int32_t IntegerOption(const char* key, std::int32_t fallback) {
    return OptionOr(key, fallback,
                    [](const SettingsStore& options, const char* k) { return options.Int(k); });
}

} // namespace

SettingsStore* Options() {
    return TheOptions.load(std::memory_order_acquire);
}

SettingsStore* Styles() {
    return TheStyles.load(std::memory_order_acquire);
}

void SetOptions(SettingsStore* options) {
    TheOptions.store(options, std::memory_order_release);
}

void SetStyles(SettingsStore* styles) {
    TheStyles.store(styles, std::memory_order_release);
}

std::unique_ptr<SettingsStore> CreateOptionsStore() {
    auto options = std::make_unique<SettingsStore>();
    options->SetRootKey(RootKey::LocalMachine);
    options->SetPersistenceMode(Persistence::IniFile);
    options->SetIniFileName(platform::Paths::DefinitionFile(".config").string());
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
    return options;
}

std::unique_ptr<SettingsStore> CreateStylesStore(const LayoutDefaults& defaults) {
    auto styles = std::make_unique<SettingsStore>();
    styles->SetRootKey(RootKey::CurrentUser);
    styles->SetRegistryBackend(std::make_shared<IniRegistry>(platform::Paths::StylesFile()));
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

bool OptionMiscDnsResolve() {
    return OptionOr("MiscDnsResolve", DefaultMiscDnsResolve,
                    [](const SettingsStore& options, const char* key) { return options.Bool(key); });
}

bool OptionLogFollowNewFiles() {
    return OptionOr("LogFollowNewFiles", DefaultLogFollowNewFiles,
                    [](const SettingsStore& options, const char* key) { return options.Bool(key); });
}

std::int32_t OptionLogRotateGraceSeconds() {
    return std::max<std::int32_t>(IntegerOption("LogRotateGraceSeconds", DefaultLogRotateGraceSeconds), 0);
}

std::int32_t OptionMiscDnsDeadlineMs() {
    return std::max(IntegerOption("MiscDnsDeadlineMs", DefaultMiscDnsDeadlineMs), std::int32_t{0});
}

std::int32_t OptionTimeDeleteAfter() {
    return IntegerOption("TimeDeleteAfter", DefaultTimeDeleteAfter);
}

std::int32_t OptionTimeDeleteAfterUnit() {
    return IntegerOption("TimeDeleteAfterUnit", DefaultTimeDeleteAfterUnit);
}

std::int32_t OptionTimeRevisitorAfterMinutes() {
    return IntegerOption("TimeRevisitorAfterMinutes", DefaultTimeRevisitorAfterMinutes);
}

std::int32_t OptionTimeLogPollCycleInMs() {
    return IntegerOption("TimeLogPollCycleInMs", DefaultTimeLogPollCycleInMs);
}

} // namespace kavel
