#include "config/PoolConfig.h"

#include "platform/Clock.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace kavel {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

const char* const OptionsText = "[Options]\r\n"
                                "TimeDeleteAfter=0x0A\r\n"
                                "TimeDeleteAfterUnit=$1\r\n"
                                "TimeLogPollCycleInMs=abc\r\n"
                                "MiscDnsResolve=%s\r\n";

class IniStore : public testing::Test {
protected:
    // An Options-like store over the file, with the five keys registered.
    std::unique_ptr<TConfig> Load(const char* miscDnsResolve = "0") {
        if (miscDnsResolve) {
            char text[256];
            std::snprintf(text, sizeof text, OptionsText, miscDnsResolve);
            WriteBytes(File, text);
        }
        auto store = std::make_unique<TConfig>();
        store->SetIniFileName(File.string());
        store->SetPersistenceMode(1);
        Found.clear();
        Found.push_back(store->AddItem("Options", "TimeDeleteAfter", TConfKind::Integer, 3));
        Found.push_back(store->AddItem("Options", "TimeDeleteAfterUnit", TConfKind::Integer, 0));
        Found.push_back(store->AddItem("Options", "TimeRevisitorAfterMinutes", TConfKind::Integer, 10));
        Found.push_back(store->AddItem("Options", "TimeLogPollCycleInMs", TConfKind::Integer, 5000));
        Found.push_back(store->AddItem("Options", "MiscDnsResolve", TConfKind::Boolean, true));
        return store;
    }
    TempFolder Folder;
    std::filesystem::path File = Folder / "kavel.config";
    std::vector<bool> Found;
    platform::ManualClock Clock{*EncodeDateTime(2005, 3, 5, 9, 7, 0)};
    platform::ScopedClock Scoped{Clock};
};

TEST_F(IniStore, ConvertsTheFilesValues) {
    const auto store = Load();
    EXPECT_EQ(store->GetValue("TimeDeleteAfter"), TConfValue(10));
    EXPECT_EQ(store->GetValue("TimeDeleteAfterUnit"), TConfValue(1));
    EXPECT_EQ(store->GetValue("TimeRevisitorAfterMinutes"), TConfValue(10));
    EXPECT_EQ(store->GetValue("TimeLogPollCycleInMs"), TConfValue(5000));
    EXPECT_EQ(store->GetValue("MiscDnsResolve"), TConfValue(false));
    // A key that is there counts as read even when its value falls back to the default.
    EXPECT_EQ(Found, (std::vector<bool>{true, true, false, true, true}));
}

TEST_F(IniStore, BooleanFromAnyInteger) {
    struct Case {
        const char* Text;
        bool Value;
    };
    for (const Case& c : {Case{"0", false}, Case{"7", true}, Case{"-1", true}, Case{"yes", true},
                          Case{"0x0", false}, Case{"", true}, Case{" 0 ", false}}) {
        EXPECT_EQ(Load(c.Text)->GetBool("MiscDnsResolve"), c.Value) << c.Text;
    }
}

TEST_F(IniStore, NoFileGivesDefaultsAndNoFileAfterSave) {
    const auto store = Load(nullptr);
    EXPECT_EQ(Found, (std::vector<bool>(5, false)));
    EXPECT_EQ(store->GetInt("TimeLogPollCycleInMs"), 5000);
    EXPECT_TRUE(store->GetBool("MiscDnsResolve"));
    store->Save();
    EXPECT_FALSE(std::filesystem::exists(File));
}

TEST_F(IniStore, SaveWritesOnlyModifiedKeysAndKeepsTheRest) {
    WriteBytes(File,
               "; hand-edited\r\n[Options]\r\nTimeDeleteAfter=4\r\nUnknownKey=x\r\n\r\n[Mine]\r\na=b\r\n");
    auto store = std::make_unique<TConfig>();
    store->SetIniFileName(File.string());
    store->SetPersistenceMode(1);
    store->AddItem("Options", "TimeDeleteAfter", TConfKind::Integer, 3);
    store->AddItem("Options", "TimeRevisitorAfterMinutes", TConfKind::Integer, 10);
    store->AddItem("Options", "MiscDnsResolve", TConfKind::Boolean, true);
    store->AddItem("Options", "Words", TConfKind::Text, std::string("a"));
    store->SetValue("TimeRevisitorAfterMinutes", 25);
    store->SetValue("MiscDnsResolve", false);
    store->SetValue("Words", std::string("Hier Wörter"));
    store->SetValue("TimeDeleteAfter", 4); // unchanged: not written
    store->Save();
    EXPECT_EQ(ReadBytes(File), "; hand-edited\r\n[Options]\r\nTimeDeleteAfter=4\r\nUnknownKey=x\r\n"
                               "TimeRevisitorAfterMinutes=25\r\nMiscDnsResolve=0\r\nWords=Hier Wörter\r\n"
                               "\r\n[Mine]\r\na=b\r\n");
    // Saved items are no longer modified: a second save does not touch the file.
    std::filesystem::remove(File);
    store->Save();
    EXPECT_FALSE(std::filesystem::exists(File));
}

TEST_F(IniStore, FailedSaveKeepsTheItemsModified) {
    auto store = std::make_unique<TConfig>();
    store->SetIniFileName((Folder / "missing" / "kavel.config").string());
    store->SetPersistenceMode(1);
    store->AddItem("Options", "TimeDeleteAfter", TConfKind::Integer, 3);
    store->SetValue("TimeDeleteAfter", 9);
    EXPECT_THROW(store->Save(), std::runtime_error);
    std::filesystem::create_directory(Folder / "missing");
    store->Save();
    EXPECT_EQ(ReadBytes(Folder / "missing" / "kavel.config"), "[Options]\r\nTimeDeleteAfter=9\r\n");
}

TEST(TConfig, KeysIgnoreAsciiCaseAndUnknownKeysRaise) {
    TConfig store;
    store.AddItem("Styles", "ListViewHideWords", TConfKind::Boolean, false);
    store.AddItem("Styles", "MainWidth", TConfKind::Integer, 946);
    EXPECT_EQ(store.IndexOf("listviewhidewords"), 0u);
    EXPECT_EQ(store.IndexOf("MAINWIDTH"), 1u);
    try {
        store.GetValue("ListViewHideWord");
        FAIL();
    } catch (const EConfItemNotFound& e) {
        EXPECT_STREQ(e.what(), "Konfigurationseintrag \"ListViewHideWord\" nicht gefunden");
    }
    try {
        store.SetValueAt(2, 1);
        FAIL();
    } catch (const EConfItemNotFound& e) {
        EXPECT_STREQ(e.what(), "Konfigurationseintrag nicht gefunden");
    }
    EXPECT_THROW(store.GetChangeTimeAt(5), EConfItemNotFound);
    EXPECT_THROW(store.GetValueAt(2), EConfItemNotFound);
    EXPECT_EQ(store.GetValue("mainwidth"), TConfValue(946));
}

TEST(TConfig, ModifiedAndChangeTimeFollowRealChanges) {
    platform::ManualClock clock(*EncodeDateTime(2005, 3, 5, 9, 0, 0));
    platform::ScopedClock scoped(clock);
    TConfig store;
    store.AddItem("Styles", "MainWidth", TConfKind::Integer, 946);
    store.AddItem("Styles", "Words", TConfKind::Text, std::string("abc"));
    const TDateTime registered = clock.Now();
    EXPECT_EQ(store.GetChangeTime("MainWidth"), registered);

    clock.Advance(MsPerMinute);
    store.SetValue("MainWidth", 946);
    store.SetValue("Words", std::string("abc"));
    EXPECT_EQ(store.GetChangeTime("MainWidth"), registered);
    EXPECT_EQ(store.GetChangeTime("Words"), registered);

    store.SetValue("Words", std::string("ABC")); // texts compare with case
    EXPECT_EQ(store.GetChangeTime("Words"), clock.Now());
    clock.Advance(MsPerMinute);
    store.SetValue("MainWidth", 1000);
    EXPECT_EQ(store.GetChangeTime("MainWidth"), clock.Now());
    // A value of another kind is a change, never silently equal.
    clock.Advance(MsPerMinute);
    store.SetValue("MainWidth", true);
    EXPECT_EQ(store.GetChangeTime("MainWidth"), clock.Now());
}

// The per-user store stand-in, in memory.
class FakeRegistry final : public TRegistryBackend {
public:
    std::map<std::pair<std::string, std::string>, std::string> Strings;
    std::map<std::pair<std::string, std::string>, std::int32_t> Integers;
    int Writes = 0;
    std::optional<std::string> ReadString(const std::string& keyPath, const std::string& name) override {
        const auto it = Strings.find({keyPath, name});
        return it == Strings.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<std::int32_t> ReadInteger(const std::string& keyPath, const std::string& name) override {
        const auto it = Integers.find({keyPath, name});
        return it == Integers.end() ? std::nullopt : std::optional(it->second);
    }
    void WriteString(const std::string& keyPath, const std::string& name, const std::string& value) override {
        ++Writes;
        Strings[{keyPath, name}] = value;
    }
    void WriteInteger(const std::string& keyPath, const std::string& name, std::int32_t value) override {
        ++Writes;
        Integers[{keyPath, name}] = value;
    }
};

TEST(TConfig, RegistryModeReadsAndWritesUnderTheProductsPath) {
    auto registry = std::make_shared<FakeRegistry>();
    const std::string key = "Software\\Quarnet\\Kavel\\Styles";
    registry->Strings[{key, "ListViewHideWordsWords"}] = "foo,bar";
    registry->Integers[{key, "MainWidth"}] = 1200;
    registry->Integers[{key, "ShowInfoTips"}] = 0;
    TConfig store;
    EXPECT_EQ(store.RegistryPath(), "Software\\Quarnet\\Kavel\\");
    store.SetRegistryBackend(registry);
    store.SetPersistenceMode(0);
    EXPECT_TRUE(store.AddItem("Styles", "ListViewHideWordsWords", TConfKind::Text, std::string("x")));
    EXPECT_TRUE(store.AddItem("Styles", "MainWidth", TConfKind::Integer, 946));
    EXPECT_TRUE(store.AddItem("Styles", "ShowInfoTips", TConfKind::Boolean, true));
    EXPECT_FALSE(store.AddItem("Styles", "ListViewHideSpiders", TConfKind::Boolean, false));
    EXPECT_EQ(store.GetText("ListViewHideWordsWords"), "foo,bar");
    EXPECT_EQ(store.GetInt("MainWidth"), 1200);
    EXPECT_FALSE(store.GetBool("ShowInfoTips"));

    // Changed and changed back is still written, as false, an integer 0.
    store.SetValue("ListViewHideSpiders", true);
    store.SetValue("ListViewHideSpiders", false);
    store.SetValue("MainWidth", 1200);
    store.Save();
    EXPECT_EQ(registry->Writes, 1);
    EXPECT_EQ(registry->Integers[std::pair(key, std::string("ListViewHideSpiders"))], 0);
    store.SetValue("ShowInfoTips", true);
    store.SetValue("ListViewHideWordsWords", std::string("a,b"));
    store.Save();
    EXPECT_EQ(registry->Integers[std::pair(key, std::string("ShowInfoTips"))], 1);
    EXPECT_EQ(registry->Strings[std::pair(key, std::string("ListViewHideWordsWords"))], "a,b");
    EXPECT_EQ(registry->Writes, 3);
}

TEST(TConfig, ModeNoneReadsAndWritesNothing) {
    auto registry = std::make_shared<FakeRegistry>();
    registry->Integers[{"Software\\Quarnet\\Kavel\\Styles", "MainWidth"}] = 1;
    TConfig store;
    store.SetRegistryBackend(registry);
    EXPECT_EQ(store.GetPersistenceMode(), 2);
    EXPECT_FALSE(store.AddItem("Styles", "MainWidth", TConfKind::Integer, 946));
    EXPECT_EQ(store.GetInt("MainWidth"), 946);
    store.SetValue("MainWidth", 5);
    store.Save();
    EXPECT_EQ(registry->Writes, 0);
}

TEST(TConfig, PersistenceModeRules) {
    TConfig store;
    store.SetPersistenceMode(0);
    store.SetIniFileName("");
    try {
        store.SetPersistenceMode(1);
        FAIL();
    } catch (const EConfPersistenceModeNotValid& e) {
        EXPECT_STREQ(e.what(), "Name der Ini-Datei nicht angegeben");
    }
    EXPECT_EQ(store.GetPersistenceMode(), 0);
    store.SetPersistenceMode(7);
    EXPECT_EQ(store.GetPersistenceMode(), 0);
    store.SetPersistenceMode(2);
    EXPECT_EQ(store.GetPersistenceMode(), 2);
    store.SetIniFileName("x.ini");
    store.SetPersistenceMode(1);
    EXPECT_EQ(store.GetPersistenceMode(), 1);
    EXPECT_EQ(store.IniFileName(), "x.ini");
}

TEST(TConfig, TypedReadsConvertOtherKinds) {
    TConfig store;
    store.AddItem("S", "Text", TConfKind::Text, std::string("12"));
    store.AddItem("S", "Number", TConfKind::Integer, 0);
    store.AddItem("S", "Flag", TConfKind::Boolean, true);
    EXPECT_EQ(store.GetInt("Text"), 12);
    EXPECT_TRUE(store.GetBool("Text"));
    EXPECT_EQ(store.GetText("Number"), "0");
    EXPECT_FALSE(store.GetBool("Number"));
    EXPECT_EQ(store.GetText("Flag"), "1");
    EXPECT_EQ(store.GetInt("Flag"), 1);
}

// Reader threads read options while the main thread changes and saves values.
TEST(TConfig, ConcurrentReadsAndChanges) {
    TConfig store;
    store.AddItem("S", "Words", TConfKind::Text, std::string("a"));
    store.AddItem("S", "Number", TConfKind::Integer, 0);
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&store] {
            for (int i = 0; i < 2000; ++i) {
                const std::string words = store.GetText("Words");
                EXPECT_TRUE(words == "a" || words == std::string(100, 'b'));
                (void)store.GetInt("number");
                (void)store.GetChangeTime("Words");
            }
        });
    for (int i = 0; i < 2000; ++i) {
        store.SetValue("Words", i % 2 ? std::string("a") : std::string(100, 'b'));
        store.SetValue("Number", i);
        store.Save();
    }
    for (auto& reader : readers)
        reader.join();
}

} // namespace
} // namespace kavel
