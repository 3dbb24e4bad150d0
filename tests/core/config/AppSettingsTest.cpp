#include "config/AppSettings.h"

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
    const auto options = CreateOptionsStore();
    EXPECT_EQ(options->PersistenceMode(), Persistence::IniFile);
    EXPECT_EQ(options->IniFileName(), (home / "kavel.config").string());
    EXPECT_EQ(Keys(*options),
              (std::vector<std::string>{"TimeDeleteAfter", "TimeDeleteAfterUnit", "TimeRevisitorAfterMinutes",
                                        "TimeLogPollCycleInMs", "MiscDnsResolve", "LogFollowNewFiles",
                                        "LogRotateGraceSeconds", "MiscDnsDeadlineMs"}));
    EXPECT_EQ(options->Value("TimeDeleteAfter"), SettingValue(3));
    EXPECT_EQ(options->Value("TimeDeleteAfterUnit"), SettingValue(0));
    EXPECT_EQ(options->Value("TimeRevisitorAfterMinutes"), SettingValue(10));
    EXPECT_EQ(options->Value("TimeLogPollCycleInMs"), SettingValue(5000));
    EXPECT_EQ(options->Value("MiscDnsResolve"), SettingValue(true));
    EXPECT_EQ(options->Value("LogFollowNewFiles"), SettingValue(true));
    EXPECT_EQ(options->Value("LogRotateGraceSeconds"), SettingValue(30));
    EXPECT_EQ(options->Value("MiscDnsDeadlineMs"), SettingValue(1500));
    options->Save();
    EXPECT_FALSE(std::filesystem::exists(home / "kavel.config"));
}

TEST(AppSettings, OptionsFromTheConfigFile) {
    ScopedHome home;
    WriteBytes(home / "kavel.config", "[Options]\r\nTimeLogPollCycleInMs=abc\r\nMiscDnsResolve=yes\r\n"
                                      "TimeDeleteAfter=$10\r\nTimeRevisitorAfterMinutes=7\r\n"
                                      "LogRotateGraceSeconds=-5\r\nMiscDnsDeadlineMs=-5\r\n");
    const auto options = CreateOptionsStore();
    EXPECT_EQ(options->Int("TimeLogPollCycleInMs"), 5000);
    EXPECT_TRUE(options->Bool("MiscDnsResolve"));
    EXPECT_EQ(options->Int("TimeDeleteAfter"), 16);

    EXPECT_EQ(OptionTimeRevisitorAfterMinutes(), 10);
    SetOptions(options.get());
    EXPECT_EQ(OptionTimeRevisitorAfterMinutes(), 7);
    EXPECT_EQ(OptionTimeDeleteAfter(), 16);
    EXPECT_EQ(OptionTimeLogPollCycleInMs(), 5000);
    EXPECT_EQ(OptionTimeDeleteAfterUnit(), 0);
    EXPECT_TRUE(OptionMiscDnsResolve());
    // A negative grace reads as none, a deadline below zero as no waiting at all.
    EXPECT_EQ(OptionLogRotateGraceSeconds(), 0);
    EXPECT_EQ(OptionMiscDnsDeadlineMs(), 0);
    SetOptions(nullptr);
    EXPECT_EQ(OptionMiscDnsDeadlineMs(), 1500);
}

TEST(AppSettings, OptionReadersWithoutStoreOrKeyUseTheBuiltInDefaults) {
    EXPECT_EQ(Options(), nullptr);
    EXPECT_TRUE(OptionMiscDnsResolve());
    EXPECT_EQ(OptionTimeDeleteAfter(), 3);
    EXPECT_EQ(OptionTimeDeleteAfterUnit(), 0);
    EXPECT_EQ(OptionTimeRevisitorAfterMinutes(), 10);
    EXPECT_EQ(OptionTimeLogPollCycleInMs(), 5000);
    EXPECT_EQ(OptionLogRotateGraceSeconds(), 30);
    SettingsStore partial;
    partial.AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, false);
    SetOptions(&partial);
    EXPECT_FALSE(OptionMiscDnsResolve());
    EXPECT_EQ(OptionTimeLogPollCycleInMs(), 5000);
    SetOptions(nullptr);
}

TEST(AppSettings, StylesStoreDefaultsInTableOrder) {
    ScopedHome home;
    const auto styles = CreateStylesStore({946, 638, 1280, 1025});
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
    const auto styles = CreateStylesStore({1001, 701, 800, 601});
    EXPECT_EQ(styles->Int("MainLeft"), 400 - 500);
    EXPECT_EQ(styles->Int("MainTop"), 300 - 350);
}

TEST(AppSettings, StylesSurviveARestart) {
    ScopedHome home;
    {
        const auto styles = CreateStylesStore();
        styles->SetValue("ListViewHideSpiders", true);
        styles->SetValue("MainWidth", 1200);
        styles->SetValue("ListViewLogWidthes", std::string("100,250"));
        styles->Save();
    }
    EXPECT_EQ(ReadBytes(home / "styles" / "Kavel.ini"),
              "[Styles]\r\nListViewHideSpiders=1\r\nListViewLogWidthes=100,250\r\nMainWidth=1200\r\n");
    const auto styles = CreateStylesStore();
    EXPECT_TRUE(styles->Bool("ListViewHideSpiders"));
    EXPECT_EQ(styles->Int("MainWidth"), 1200);
    EXPECT_EQ(styles->Text("ListViewLogWidthes"), "100,250");
    EXPECT_TRUE(styles->Bool("ShowInfoTips"));
}

TEST(AppSettings, GlobalStores) {
    SettingsStore options, styles;
    SetOptions(&options);
    SetStyles(&styles);
    EXPECT_EQ(Options(), &options);
    EXPECT_EQ(Styles(), &styles);
    SetOptions(nullptr);
    SetStyles(nullptr);
    EXPECT_EQ(Styles(), nullptr);
}

} // namespace
} // namespace kavel
