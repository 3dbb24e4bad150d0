#include "config/IniRegistry.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

TEST(IniRegistry, SectionIsTheLastElementOfTheKeyPath) {
    EXPECT_EQ(IniRegistry::SectionOf("Software\\Quarnet\\Kavel\\Styles"), "Styles");
    EXPECT_EQ(IniRegistry::SectionOf("Software\\Quarnet\\Kavel\\Styles\\"), "Styles");
    EXPECT_EQ(IniRegistry::SectionOf("Software/Quarnet/Kavel/Styles"), "Styles");
    EXPECT_EQ(IniRegistry::SectionOf("Styles"), "Styles");
    EXPECT_EQ(IniRegistry::SectionOf(""), "");
}

TEST(IniRegistry, WritesCreateFolderAndFileAndReadBack) {
    test::TempFolder folder;
    const auto file = folder / "config" / "Quarnet" / "Kavel.ini";
    IniRegistry registry(file);
    const std::string key = "Software\\Quarnet\\Kavel\\Styles";
    EXPECT_FALSE(registry.ReadString(key, "MainWidth"));
    registry.WriteInteger(key, "MainWidth", 1200);
    registry.WriteString(key, "ListViewHideWordsWords", "Hier Wörter eintragen");
    registry.WriteInteger(key, "MainLeft", -8);
    EXPECT_EQ(
        test::ReadBytes(file),
        "[Styles]\r\nMainWidth=1200\r\nListViewHideWordsWords=Hier Wörter eintragen\r\nMainLeft=-8\r\n");
    EXPECT_EQ(registry.ReadInteger(key, "mainwidth"), 1200);
    EXPECT_EQ(registry.ReadInteger(key, "MainLeft"), -8);
    EXPECT_EQ(registry.ReadString(key, "ListViewHideWordsWords"), "Hier Wörter eintragen");
    // A text where a number is asked for reads as missing.
    EXPECT_FALSE(registry.ReadInteger(key, "ListViewHideWordsWords"));
    EXPECT_FALSE(registry.ReadString("Software\\Quarnet\\Kavel\\Other", "MainWidth"));
}

TEST(IniRegistry, UnreadableFileReadsAsMissingAndRefusesWrites) {
    test::TempFolder folder;
    std::filesystem::create_directory(folder / "Kavel.ini");
    IniRegistry registry(folder / "Kavel.ini");
    EXPECT_FALSE(registry.ReadString("Styles", "MainWidth"));
    EXPECT_THROW(registry.WriteInteger("Styles", "MainWidth", 1), std::system_error);
}

} // namespace
} // namespace kavel
