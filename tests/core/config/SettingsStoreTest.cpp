#include "config/SettingsStore.h"

#include "platform/Clock.h"
#include "support/TempFolder.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <thread>
#include <unistd.h>
#include <vector>

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
    std::unique_ptr<SettingsStore> Load(const char* miscDnsResolve = "0") {
        if (miscDnsResolve) {
            char text[256];
            std::snprintf(text, sizeof text, OptionsText, miscDnsResolve);
            WriteBytes(File, text);
        }
        auto store = std::make_unique<SettingsStore>();
        store->SetIniFileName(File.string());
        store->SetPersistenceMode(Persistence::IniFile);
        Found.clear();
        Found.push_back(store->AddItem("Options", "TimeDeleteAfter", SettingKind::Integer, 3));
        Found.push_back(store->AddItem("Options", "TimeDeleteAfterUnit", SettingKind::Integer, 0));
        Found.push_back(store->AddItem("Options", "TimeRevisitorAfterMinutes", SettingKind::Integer, 10));
        Found.push_back(store->AddItem("Options", "TimeLogPollCycleInMs", SettingKind::Integer, 5000));
        Found.push_back(store->AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, true));
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
    EXPECT_EQ(store->Value("TimeDeleteAfter"), SettingValue(10));
    EXPECT_EQ(store->Value("TimeDeleteAfterUnit"), SettingValue(1));
    EXPECT_EQ(store->Value("TimeRevisitorAfterMinutes"), SettingValue(10));
    EXPECT_EQ(store->Value("TimeLogPollCycleInMs"), SettingValue(5000));
    EXPECT_EQ(store->Value("MiscDnsResolve"), SettingValue(false));
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
        EXPECT_EQ(Load(c.Text)->Bool("MiscDnsResolve"), c.Value) << c.Text;
    }
}

TEST_F(IniStore, NoFileGivesDefaultsAndNoFileAfterSave) {
    const auto store = Load(nullptr);
    EXPECT_EQ(Found, (std::vector<bool>(5, false)));
    EXPECT_EQ(store->Int("TimeLogPollCycleInMs"), 5000);
    EXPECT_TRUE(store->Bool("MiscDnsResolve"));
    store->Save();
    EXPECT_FALSE(std::filesystem::exists(File));
}

TEST_F(IniStore, SaveWritesOnlyModifiedKeysAndKeepsTheRest) {
    WriteBytes(File,
               "; hand-edited\r\n[Options]\r\nTimeDeleteAfter=4\r\nUnknownKey=x\r\n\r\n[Mine]\r\na=b\r\n");
    auto store = std::make_unique<SettingsStore>();
    store->SetIniFileName(File.string());
    store->SetPersistenceMode(Persistence::IniFile);
    store->AddItem("Options", "TimeDeleteAfter", SettingKind::Integer, 3);
    store->AddItem("Options", "TimeRevisitorAfterMinutes", SettingKind::Integer, 10);
    store->AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, true);
    store->AddItem("Options", "Words", SettingKind::Text, std::string("a"));
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
    auto store = std::make_unique<SettingsStore>();
    store->SetIniFileName((Folder / "missing" / "kavel.config").string());
    store->SetPersistenceMode(Persistence::IniFile);
    store->AddItem("Options", "TimeDeleteAfter", SettingKind::Integer, 3);
    store->SetValue("TimeDeleteAfter", 9);
    EXPECT_THROW(store->Save(), std::runtime_error);
    std::filesystem::create_directory(Folder / "missing");
    store->Save();
    EXPECT_EQ(ReadBytes(Folder / "missing" / "kavel.config"), "[Options]\r\nTimeDeleteAfter=9\r\n");
}

TEST_F(IniStore, AnUnreadableFileIsReportedAndNeverWritten) {
    const struct {
        const char* Name;
        std::function<bool()> MakeUnreadable;
    } cases[] = {
        {"a folder in place of the file",
         [this] {
             std::filesystem::create_directory(File);
             return true;
         }},
        // Root reads a file of mode 000 all the same; then the case cannot be made.
        {"a file without read permission",
         [this] {
             WriteBytes(File, "[Options]\r\nTimeDeleteAfter=4\r\n");
             std::filesystem::permissions(File, std::filesystem::perms::none);
             return ::access(File.c_str(), R_OK) != 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::error_code ec;
        std::filesystem::permissions(File, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(File, ec);
        if (!c.MakeUnreadable()) {
            std::cout << "not tested: " << c.Name << " is readable for this user (root)\n";
            continue;
        }
        const auto store = Load(nullptr);
        ASSERT_TRUE(store->ReadError().has_value());
        EXPECT_EQ(store->Int("TimeDeleteAfter"), 3) << "the defaults apply";
        store->SetValue("TimeDeleteAfter", 9);
        const auto before = std::filesystem::status(File).type();
        EXPECT_NO_THROW(store->Save());
        EXPECT_EQ(std::filesystem::status(File).type(), before);
    }
    std::error_code ec;
    std::filesystem::permissions(File, std::filesystem::perms::owner_all, ec);
}

TEST_F(IniStore, AReadableOrMissingFileHasNoReadError) {
    EXPECT_FALSE(Load(nullptr)->ReadError());
    EXPECT_FALSE(Load("1")->ReadError());
}

TEST(SettingsStore, KeysIgnoreAsciiCaseAndUnknownKeysRaise) {
    SettingsStore store;
    store.AddItem("Styles", "ListViewHideWords", SettingKind::Boolean, false);
    store.AddItem("Styles", "MainWidth", SettingKind::Integer, 946);
    EXPECT_EQ(store.IndexOf("listviewhidewords"), 0u);
    EXPECT_EQ(store.IndexOf("MAINWIDTH"), 1u);
    try {
        store.Value("ListViewHideWord");
        FAIL();
    } catch (const SettingNotFoundError& e) {
        EXPECT_EQ(e.what(), std::string(settings_error::KeyNotFoundHead) + "ListViewHideWord" +
                                std::string(settings_error::KeyNotFoundTail));
    }
    try {
        store.SetValueAt(2, 1);
        FAIL();
    } catch (const SettingNotFoundError& e) {
        EXPECT_EQ(e.what(), settings_error::NotFound);
    }
    EXPECT_THROW(store.ChangeTimeAt(5), SettingNotFoundError);
    EXPECT_THROW(store.ValueAt(2), SettingNotFoundError);
    EXPECT_EQ(store.Value("mainwidth"), SettingValue(946));
}

TEST(SettingsStore, ModifiedAndChangeTimeFollowRealChanges) {
    platform::ManualClock clock(*EncodeDateTime(2005, 3, 5, 9, 0, 0));
    platform::ScopedClock scoped(clock);
    SettingsStore store;
    store.AddItem("Styles", "MainWidth", SettingKind::Integer, 946);
    store.AddItem("Styles", "Words", SettingKind::Text, std::string("abc"));
    const DateTime registered = clock.Now();
    EXPECT_EQ(store.ChangeTime("MainWidth"), registered);

    clock.Advance(MsPerMinute);
    store.SetValue("MainWidth", 946);
    store.SetValue("Words", std::string("abc"));
    EXPECT_EQ(store.ChangeTime("MainWidth"), registered);
    EXPECT_EQ(store.ChangeTime("Words"), registered);

    store.SetValue("Words", std::string("ABC")); // texts compare with case
    EXPECT_EQ(store.ChangeTime("Words"), clock.Now());
    clock.Advance(MsPerMinute);
    store.SetValue("MainWidth", 1000);
    EXPECT_EQ(store.ChangeTime("MainWidth"), clock.Now());
    // A value of another kind is a change, never silently equal.
    clock.Advance(MsPerMinute);
    store.SetValue("MainWidth", true);
    EXPECT_EQ(store.ChangeTime("MainWidth"), clock.Now());
}

// The per-user store stand-in, in memory.
class FakeRegistry final : public RegistryBackend {
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

TEST(SettingsStore, RegistryModeReadsAndWritesUnderTheProductsPath) {
    auto registry = std::make_shared<FakeRegistry>();
    const std::string key = "Software\\Quarnet\\Kavel\\Styles";
    registry->Strings[{key, "ListViewHideWordsWords"}] = "foo,bar";
    registry->Integers[{key, "MainWidth"}] = 1200;
    registry->Integers[{key, "ShowInfoTips"}] = 0;
    SettingsStore store;
    EXPECT_EQ(store.RegistryPath(), "Software\\Quarnet\\Kavel\\");
    store.SetRegistryBackend(registry);
    store.SetPersistenceMode(Persistence::Registry);
    EXPECT_TRUE(store.AddItem("Styles", "ListViewHideWordsWords", SettingKind::Text, std::string("x")));
    EXPECT_TRUE(store.AddItem("Styles", "MainWidth", SettingKind::Integer, 946));
    EXPECT_TRUE(store.AddItem("Styles", "ShowInfoTips", SettingKind::Boolean, true));
    EXPECT_FALSE(store.AddItem("Styles", "ListViewHideSpiders", SettingKind::Boolean, false));
    EXPECT_EQ(store.Text("ListViewHideWordsWords"), "foo,bar");
    EXPECT_EQ(store.Int("MainWidth"), 1200);
    EXPECT_FALSE(store.Bool("ShowInfoTips"));

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

TEST(SettingsStore, ModeNoneReadsAndWritesNothing) {
    auto registry = std::make_shared<FakeRegistry>();
    registry->Integers[{"Software\\Quarnet\\Kavel\\Styles", "MainWidth"}] = 1;
    SettingsStore store;
    store.SetRegistryBackend(registry);
    EXPECT_EQ(store.PersistenceMode(), Persistence::None);
    EXPECT_FALSE(store.AddItem("Styles", "MainWidth", SettingKind::Integer, 946));
    EXPECT_EQ(store.Int("MainWidth"), 946);
    store.SetValue("MainWidth", 5);
    store.Save();
    EXPECT_EQ(registry->Writes, 0);
}

TEST(SettingsStore, PersistenceModeRules) {
    SettingsStore store;
    store.SetPersistenceMode(Persistence::Registry);
    store.SetIniFileName("");
    try {
        store.SetPersistenceMode(Persistence::IniFile);
        FAIL();
    } catch (const PersistenceModeError& e) {
        EXPECT_EQ(e.what(), settings_error::IniFileNameMissing);
    }
    EXPECT_EQ(store.PersistenceMode(), Persistence::Registry);
    store.SetPersistenceMode(static_cast<Persistence>(7));
    EXPECT_EQ(store.PersistenceMode(), Persistence::Registry);
    store.SetPersistenceMode(Persistence::None);
    EXPECT_EQ(store.PersistenceMode(), Persistence::None);
    store.SetIniFileName("x.ini");
    store.SetPersistenceMode(Persistence::IniFile);
    EXPECT_EQ(store.PersistenceMode(), Persistence::IniFile);
    EXPECT_EQ(store.IniFileName(), "x.ini");
}

TEST(SettingsStore, TypedReadsConvertOtherKinds) {
    SettingsStore store;
    store.AddItem("S", "Text", SettingKind::Text, std::string("12"));
    store.AddItem("S", "Number", SettingKind::Integer, 0);
    store.AddItem("S", "Flag", SettingKind::Boolean, true);
    EXPECT_EQ(store.Int("Text"), 12);
    EXPECT_TRUE(store.Bool("Text"));
    EXPECT_EQ(store.Text("Number"), "0");
    EXPECT_FALSE(store.Bool("Number"));
    EXPECT_EQ(store.Text("Flag"), "1");
    EXPECT_EQ(store.Int("Flag"), 1);
}

// A window without its store, or one from before a key was added, shows the fallback.
TEST(SettingsStore, StoredReadsFallBackWithoutStoreOrKey) {
    SettingsStore store;
    store.AddItem("S", "Width", SettingKind::Integer, 0);
    store.AddItem("S", "Flag", SettingKind::Boolean, false);
    store.SetValue("Width", 640);
    EXPECT_EQ(StoredInt(&store, "width", 946), 640);
    EXPECT_EQ(StoredInt(&store, "Height", 638), 638);
    EXPECT_EQ(StoredInt(nullptr, "Width", 946), 946);
    EXPECT_FALSE(StoredBool(&store, "Flag", true));
    EXPECT_TRUE(StoredBool(&store, "Other", true));
    EXPECT_FALSE(StoredBool(nullptr, "Flag"));
}

// Reader threads read options while the main thread changes and saves values.
TEST(SettingsStore, ConcurrentReadsAndChanges) {
    SettingsStore store;
    store.AddItem("S", "Words", SettingKind::Text, std::string("a"));
    store.AddItem("S", "Number", SettingKind::Integer, 0);
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&store] {
            for (int i = 0; i < 2000; ++i) {
                const std::string words = store.Text("Words");
                EXPECT_TRUE(words == "a" || words == std::string(100, 'b'));
                (void)store.Int("number");
                (void)store.ChangeTime("Words");
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

namespace kavel {
namespace {

// Readers look options up on every parsed line while the main thread changes them: every
// look-up, by key or by position, holds the store's lock.
TEST(SettingsStore, LookUpsFromReaderThreadsWhileTheMainThreadWrites) {
    SettingsStore store;
    store.SetPersistenceMode(Persistence::None);
    store.AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, true);
    store.AddItem("Options", "TimeRevisitorAfterMinutes", SettingKind::Integer, 10);
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const std::int32_t minutes = store.Int("timerevisitorafterminutes");
                EXPECT_TRUE(minutes >= 10 && minutes < 1010);
                (void)store.Bool("MiscDnsResolve");
            }
        });
    }
    for (std::int32_t i = 0; i < 1000; ++i)
        store.SetValue("TimeRevisitorAfterMinutes", 10 + i);
    done = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(store.Int("TimeRevisitorAfterMinutes"), 1009);
    EXPECT_THROW((void)store.Int("NoSuchKey"), SettingNotFoundError);
}

} // namespace
} // namespace kavel
