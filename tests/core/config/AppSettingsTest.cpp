#include "config/AppSettings.h"

#include "acquisition/Workspace.h"
#include "platform/Paths.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

using test::ReadBytes;
using test::ScopedHome;
using test::WriteBytes;

std::vector<std::string> Keys(const SettingsStore& store) {
    std::vector<std::string> keys;
    static const char* const Known[] = {"TimeDeleteAfter",
                                        "TimeDeleteAfterUnit",
                                        "TimeRevisitorAfterMinutes",
                                        "TimeLogPollCycleInMs",
                                        "MiscDnsResolve",
                                        "LogFollowNewFiles",
                                        "LogRotateGraceSeconds",
                                        "MiscDnsDeadlineMs",
                                        "MiscDnsCacheSize",
                                        "ListViewRealtimeMode",
                                        "ListViewHideNonDocuments",
                                        "ListViewHideSpiders",
                                        "ListViewHideWords",
                                        "ListViewHideWordsWords",
                                        "ListViewHideLocalReferers",
                                        "ListViewResolveDomains",
                                        "ListViewLogWidthes",
                                        "ListViewExceptionsWidthes",
                                        "MainWidth",
                                        "MainHeight",
                                        "MainLeft",
                                        "MainTop",
                                        "ShowInfoTips",
                                        "ListViewOutcomeColours",
                                        "QuickFilterText",
                                        "QuickFilterRegex",
                                        "QuickFilterCaseSensitive",
                                        "QuickFilterMarkOnly",
                                        "OverviewSpan",
                                        "OverviewDocumentsOnly"};
    keys.resize(store.Count());
    for (const char* key : Known) {
        try {
            keys[store.IndexOf(key)] = key;
        } catch (const SettingNotFoundError&) {
        }
    }
    return keys;
}

TEST(AppSettings, OptionsStoreDefaultsInTableOrder) {
    ScopedHome home;
    const auto options = CreateOptionsStore(home / "kavel.config");
    EXPECT_EQ(options->PersistenceMode(), Persistence::IniFile);
    EXPECT_EQ(options->IniFileName(), (home / "kavel.config").string());
    EXPECT_EQ(Keys(*options),
              (std::vector<std::string>{"TimeDeleteAfter", "TimeDeleteAfterUnit", "TimeRevisitorAfterMinutes",
                                        "TimeLogPollCycleInMs", "MiscDnsResolve", "LogFollowNewFiles",
                                        "LogRotateGraceSeconds", "MiscDnsDeadlineMs", "MiscDnsCacheSize"}));
    EXPECT_EQ(options->Value("TimeDeleteAfter"), SettingValue(3));
    EXPECT_EQ(options->Value("TimeDeleteAfterUnit"), SettingValue(0));
    EXPECT_EQ(options->Value("TimeRevisitorAfterMinutes"), SettingValue(10));
    EXPECT_EQ(options->Value("TimeLogPollCycleInMs"), SettingValue(5000));
    EXPECT_EQ(options->Value("MiscDnsResolve"), SettingValue(true));
    EXPECT_EQ(options->Value("LogFollowNewFiles"), SettingValue(true));
    EXPECT_EQ(options->Value("LogRotateGraceSeconds"), SettingValue(30));
    EXPECT_EQ(options->Value("MiscDnsDeadlineMs"), SettingValue(1500));
    EXPECT_EQ(options->Value("MiscDnsCacheSize"), SettingValue(100000));
    options->Save();
    EXPECT_FALSE(std::filesystem::exists(home / "kavel.config"));
}

TEST(AppSettings, OptionsFromTheConfigFile) {
    ScopedHome home;
    WriteBytes(home / "kavel.config",
               "[Options]\r\nTimeLogPollCycleInMs=abc\r\nMiscDnsResolve=yes\r\n"
               "TimeDeleteAfter=$10\r\nTimeRevisitorAfterMinutes=7\r\n"
               "LogRotateGraceSeconds=-5\r\nMiscDnsDeadlineMs=-5\r\nMiscDnsCacheSize=-3\r\n");
    const auto options = CreateOptionsStore(home / "kavel.config");
    EXPECT_EQ(options->Int("TimeLogPollCycleInMs"), 5000);
    EXPECT_TRUE(options->Bool("MiscDnsResolve"));
    EXPECT_EQ(options->Int("TimeDeleteAfter"), 16);

    EXPECT_EQ(OptionTimeRevisitorAfterMinutes(nullptr), 10);
    EXPECT_EQ(OptionTimeRevisitorAfterMinutes(options.get()), 7);
    EXPECT_EQ(OptionTimeDeleteAfter(options.get()), 16);
    EXPECT_EQ(OptionTimeLogPollCycleInMs(options.get()), 5000);
    EXPECT_EQ(OptionTimeDeleteAfterUnit(options.get()), 0);
    EXPECT_TRUE(OptionMiscDnsResolve(options.get()));
    // A negative grace reads as none, a deadline below zero as no waiting at all, a cache
    // size below one as one name.
    EXPECT_EQ(OptionLogRotateGraceSeconds(options.get()), 0);
    EXPECT_EQ(OptionMiscDnsDeadlineMs(options.get()), 0);
    EXPECT_EQ(OptionMiscDnsCacheSize(options.get()), 1u);
    EXPECT_EQ(OptionMiscDnsDeadlineMs(nullptr), 1500);
    EXPECT_EQ(OptionMiscDnsCacheSize(nullptr), 100000u);

    // The workspace's name cache takes its size from the options it is given.
    Workspace space(home.Path());
    EXPECT_EQ(space.Names().Capacity(), NameCache::DefaultCapacity);
    space.SetOptions(options.get());
    EXPECT_EQ(space.Names().Capacity(), 1u);
}

TEST(AppSettings, OptionReadersWithoutStoreOrKeyUseTheBuiltInDefaults) {
    EXPECT_TRUE(OptionMiscDnsResolve(nullptr));
    EXPECT_EQ(OptionTimeDeleteAfter(nullptr), 3);
    EXPECT_EQ(OptionTimeDeleteAfterUnit(nullptr), 0);
    EXPECT_EQ(OptionTimeRevisitorAfterMinutes(nullptr), 10);
    EXPECT_EQ(OptionTimeLogPollCycleInMs(nullptr), 5000);
    EXPECT_EQ(OptionLogRotateGraceSeconds(nullptr), 30);
    SettingsStore partial;
    partial.AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, false);
    EXPECT_FALSE(OptionMiscDnsResolve(&partial));
    EXPECT_EQ(OptionTimeLogPollCycleInMs(&partial), 5000);
}

TEST(AppSettings, StylesStoreDefaultsInTableOrder) {
    ScopedHome home;
    const auto styles = CreateStylesStore(platform::Paths::StylesFile(), {946, 638, 1280, 1025});
    EXPECT_EQ(styles->PersistenceMode(), Persistence::Registry);
    EXPECT_EQ(Keys(*styles), (std::vector<std::string>{"ListViewRealtimeMode",
                                                       "ListViewHideNonDocuments",
                                                       "ListViewHideSpiders",
                                                       "ListViewHideWords",
                                                       "ListViewHideWordsWords",
                                                       "ListViewHideLocalReferers",
                                                       "ListViewResolveDomains",
                                                       "ListViewLogWidthes",
                                                       "ListViewExceptionsWidthes",
                                                       "MainWidth",
                                                       "MainHeight",
                                                       "MainLeft",
                                                       "MainTop",
                                                       "ShowInfoTips",
                                                       "ListViewOutcomeColours",
                                                       "QuickFilterText",
                                                       "QuickFilterRegex",
                                                       "QuickFilterCaseSensitive",
                                                       "QuickFilterMarkOnly",
                                                       "OverviewSpan",
                                                       "OverviewDocumentsOnly"}));
    const std::vector<SettingValue> expected = {
        false,         false,     false,         false,         std::string("Hier Wörter eintragen"),
        false,         true,      std::string(), std::string(), 946,
        638,           640 - 473, 512 - 319,     true,          true,
        std::string(), false,     false,         false,         0,
        true};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(styles->ValueAt(i), expected[i]) << i;
    styles->Save();
    EXPECT_FALSE(std::filesystem::exists(home / "styles" / "Kavel.ini"));
}

TEST(AppSettings, CentringRoundsTowardZero) {
    ScopedHome home;
    const auto styles = CreateStylesStore(platform::Paths::StylesFile(), {1001, 701, 800, 601});
    EXPECT_EQ(styles->Int("MainLeft"), 400 - 500);
    EXPECT_EQ(styles->Int("MainTop"), 300 - 350);
}

TEST(AppSettings, StylesSurviveARestart) {
    ScopedHome home;
    {
        const auto styles = CreateStylesStore(platform::Paths::StylesFile());
        styles->SetValue("ListViewHideSpiders", true);
        styles->SetValue("MainWidth", 1200);
        styles->SetValue("ListViewLogWidthes", std::string("100,250"));
        styles->Save();
    }
    EXPECT_EQ(ReadBytes(home / "styles" / "Kavel.ini"),
              "[Styles]\r\nListViewHideSpiders=1\r\nListViewLogWidthes=100,250\r\nMainWidth=1200\r\n");
    const auto styles = CreateStylesStore(platform::Paths::StylesFile());
    EXPECT_TRUE(styles->Bool("ListViewHideSpiders"));
    EXPECT_EQ(styles->Int("MainWidth"), 1200);
    EXPECT_EQ(styles->Text("ListViewLogWidthes"), "100,250");
    EXPECT_TRUE(styles->Bool("ShowInfoTips"));
}

} // namespace
} // namespace kavel
