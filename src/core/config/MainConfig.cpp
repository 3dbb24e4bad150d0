#include "config/MainConfig.h"

#include "config/IniRegistry.h"
#include "platform/Paths.h"

#include <atomic>

namespace kavel {

namespace {

std::atomic<TConfig*> TheOptions{nullptr};
std::atomic<TConfig*> TheStyles{nullptr};

constexpr const char* OptionsSection = "Options";
constexpr const char* StylesSection = "Styles";

constexpr std::int32_t DefaultTimeDeleteAfter = 3;
constexpr std::int32_t DefaultTimeDeleteAfterUnit = 0;
constexpr std::int32_t DefaultTimeRevisitorAfterMinutes = 10;
constexpr std::int32_t DefaultTimeLogPollCycleInMs = 5000;
constexpr bool DefaultMiscDnsResolve = true;

// A store installed without the key (a test's own store) reads like no store at all.
template <class Read, class T>
T OptionOr(const char* key, T fallback, Read read) {
    const TConfig* options = TheOptions.load(std::memory_order_acquire);
    if (options == nullptr)
        return fallback;
    try {
        return read(*options, key);
    } catch (const EConfItemNotFound&) {
        return fallback;
    }
}

std::int32_t IntegerOption(const char* key, std::int32_t fallback) {
    return OptionOr(key, fallback, [](const TConfig& options, const char* k) { return options.GetInt(k); });
}

} // namespace

TConfig* Options() {
    return TheOptions.load(std::memory_order_acquire);
}

TConfig* Styles() {
    return TheStyles.load(std::memory_order_acquire);
}

void SetOptions(TConfig* options) {
    TheOptions.store(options, std::memory_order_release);
}

void SetStyles(TConfig* styles) {
    TheStyles.store(styles, std::memory_order_release);
}

std::unique_ptr<TConfig> CreateOptionsStore() {
    auto options = std::make_unique<TConfig>();
    options->SetRootKey(TRootKey::LocalMachine);
    options->SetPersistenceMode(1);
    options->SetIniFileName(platform::Paths::DefinitionFile(".config").string());
    options->AddItem(OptionsSection, "TimeDeleteAfter", TConfKind::Integer, DefaultTimeDeleteAfter);
    options->AddItem(OptionsSection, "TimeDeleteAfterUnit", TConfKind::Integer, DefaultTimeDeleteAfterUnit);
    options->AddItem(OptionsSection, "TimeRevisitorAfterMinutes", TConfKind::Integer,
                     DefaultTimeRevisitorAfterMinutes);
    options->AddItem(OptionsSection, "TimeLogPollCycleInMs", TConfKind::Integer, DefaultTimeLogPollCycleInMs);
    options->AddItem(OptionsSection, "MiscDnsResolve", TConfKind::Boolean, DefaultMiscDnsResolve);
    return options;
}

std::unique_ptr<TConfig> CreateStylesStore(const TMainConfigDefaults& defaults) {
    auto styles = std::make_unique<TConfig>();
    styles->SetRootKey(TRootKey::CurrentUser);
    styles->SetRegistryBackend(std::make_shared<TIniRegistry>(platform::Paths::StylesFile()));
    styles->SetPersistenceMode(0);
    const auto add = [&styles](const char* key, TConfKind kind, TConfValue value) {
        styles->AddItem(StylesSection, key, kind, std::move(value));
    };
    add("ListViewRealtimeMode", TConfKind::Boolean, false);
    add("ListViewHideNonDocuments", TConfKind::Boolean, false);
    add("ListViewHideSpiders", TConfKind::Boolean, false);
    add("ListViewHideWords", TConfKind::Boolean, false);
    add("ListViewHideWordsWords", TConfKind::Text, std::string("Hier Wörter eintragen"));
    add("ListViewHideLocalReferers", TConfKind::Boolean, false);
    add("ListViewResolveDomains", TConfKind::Boolean, true);
    add("ListViewLogWidthes", TConfKind::Text, std::string());
    add("ListViewExceptionsWidthes", TConfKind::Text, std::string());
    add("MainWidth", TConfKind::Integer, std::int32_t{defaults.MainWidth});
    add("MainHeight", TConfKind::Integer, std::int32_t{defaults.MainHeight});
    // C++ division truncates toward zero, as the centring rule asks.
    add("MainLeft", TConfKind::Integer, std::int32_t{defaults.ScreenWidth / 2 - defaults.MainWidth / 2});
    add("MainTop", TConfKind::Integer, std::int32_t{defaults.ScreenHeight / 2 - defaults.MainHeight / 2});
    add("ShowInfoTips", TConfKind::Boolean, true);
    return styles;
}

bool OptionMiscDnsResolve() {
    return OptionOr("MiscDnsResolve", DefaultMiscDnsResolve,
                    [](const TConfig& options, const char* key) { return options.GetBool(key); });
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
