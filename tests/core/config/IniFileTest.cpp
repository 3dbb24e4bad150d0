#include "config/IniFile.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

struct IntegerCase {
    const char* Text;
    std::optional<std::int32_t> Value;
};

class ParseProfileIntegerTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(ParseProfileIntegerTest, DecimalOrHexadecimal) {
    EXPECT_EQ(ParseProfileInteger(GetParam().Text), GetParam().Value) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseProfileIntegerTest,
    testing::Values(IntegerCase{"0", 0}, IntegerCase{"5000", 5000}, IntegerCase{"-7", -7},
                    IntegerCase{"+7", 7}, IntegerCase{"2147483647", 2147483647},
                    IntegerCase{"-2147483648", -2147483647 - 1}, IntegerCase{"2147483648", std::nullopt},
                    IntegerCase{"0x1F", 31}, IntegerCase{"0X1f", 31}, IntegerCase{"$ff", 255},
                    IntegerCase{"-$10", -16}, IntegerCase{"$FFFFFFFF", -1},
                    IntegerCase{"0x100000000", std::nullopt}, IntegerCase{"0x", std::nullopt},
                    IntegerCase{"$", std::nullopt}, IntegerCase{"", std::nullopt},
                    IntegerCase{"-", std::nullopt}, IntegerCase{"abc", std::nullopt},
                    IntegerCase{"12abc", std::nullopt}, IntegerCase{"1.5", std::nullopt},
                    IntegerCase{"ff", std::nullopt}, IntegerCase{"yes", std::nullopt},
                    IntegerCase{"99999999999999999999", std::nullopt}));

const char* const Sample = "; Kavel options\r\n"
                           "[Options]\r\n"
                           "TimeDeleteAfter=3\r\n"
                           "  timelogpollcycleinms = 0x10 \r\n"
                           "Broken line without equals\r\n"
                           "Words=Hier Wörter eintragen\r\n"
                           "\r\n"
                           "[Other]\r\n"
                           "TimeDeleteAfter=99\r\n";

TEST(IniFile, ReadsIgnoringCaseAndBlanks) {
    const IniFile ini = IniFile::FromText(Sample);
    EXPECT_EQ(ini.ReadInteger("options", "TIMEDELETEAFTER", -1), 3);
    EXPECT_EQ(ini.ReadInteger("Options", "TimeLogPollCycleInMs", -1), 16);
    EXPECT_EQ(ini.ReadString("Options", "Words"), "Hier Wörter eintragen");
    EXPECT_EQ(ini.ReadInteger("Other", "TimeDeleteAfter", -1), 99);
    EXPECT_FALSE(ini.ReadString("Options", "Broken line without equals"));
    EXPECT_FALSE(ini.ReadString("Options", "Missing"));
    EXPECT_FALSE(ini.ReadString("Missing", "TimeDeleteAfter"));
    EXPECT_EQ(ini.ReadInteger("Options", "Words", 42), 42);
    EXPECT_TRUE(ini.SectionExists("OTHER"));
    EXPECT_FALSE(ini.SectionExists("Nowhere"));
}

TEST(IniFile, FirstSectionAndKeyWin) {
    const IniFile ini = IniFile::FromText("[A]\nk=1\nk=2\n[a]\nk=3\nj=4\n");
    EXPECT_EQ(ini.ReadString("A", "k"), "1");
    EXPECT_FALSE(ini.ValueExists("A", "j"));
}

TEST(IniFile, CommentsAndKeysOutsideSectionsNeverMatch) {
    const IniFile ini = IniFile::FromText("k=0\n[S]\n;k=1\n#k=2\n[T]\nk=3");
    EXPECT_FALSE(ini.ValueExists("S", "k"));
    EXPECT_FALSE(ini.ValueExists("S", ";k"));
    EXPECT_EQ(ini.ReadString("T", "k"), "3");
}

TEST(IniFile, BooleansAreIntegers) {
    const IniFile ini = IniFile::FromText("[O]\na=0\nb=7\nc=yes\nd=-1\n");
    EXPECT_FALSE(ini.ReadBool("O", "a", true));
    EXPECT_TRUE(ini.ReadBool("O", "b", false));
    EXPECT_TRUE(ini.ReadBool("O", "c", true));
    EXPECT_FALSE(ini.ReadBool("O", "c", false));
    EXPECT_TRUE(ini.ReadBool("O", "d", false));
}

struct WriteCase {
    const char* Name;
    const char* Before;
    const char* Section;
    const char* Key;
    const char* Value;
    const char* After;
};

class IniWriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(IniWriteTest, ChangesOnlyTheKeysLine) {
    IniFile ini = IniFile::FromText(GetParam().Before);
    ini.WriteString(GetParam().Section, GetParam().Key, GetParam().Value);
    EXPECT_EQ(ini.Text(), GetParam().After);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteTest,
    testing::Values(
        WriteCase{"Empty", "", "Options", "A", "1", "[Options]\r\nA=1\r\n"},
        WriteCase{"Replace", "; c\r\n[Options]\r\n  a = 0 \r\nB=2\r\n", "options", "A", "5",
                  "; c\r\n[Options]\r\nA=5\r\nB=2\r\n"},
        WriteCase{"AddToSectionBeforeBlankLines", "[S]\nx=1\n\n[T]\ny=2\n", "S", "z", "3",
                  "[S]\nx=1\nz=3\n\n[T]\ny=2\n"},
        WriteCase{"AddToEmptySection", "[S]\r\n[T]\r\n", "S", "k", "v", "[S]\r\nk=v\r\n[T]\r\n"},
        WriteCase{"AddToLastSectionWithoutLineEnd", "[S]\nx=1", "S", "k", "v", "[S]\nx=1\nk=v\n"},
        WriteCase{"NewSectionAfterUnterminatedLine", "[S]\nx=1", "T", "k", "v", "[S]\nx=1\n\n[T]\nk=v\n"},
        WriteCase{"NewSectionKeepsLineEndStyle", "; only a comment\r", "S", "k", "v",
                  "; only a comment\r\r[S]\rk=v\r"},
        WriteCase{"LoneCrBeforeLf", "[S]\rx=1\r\n\n[T]", "S", "k", "v", "[S]\rx=1\r\nk=v\r\n\n[T]"},
        WriteCase{"LineEndsInTheValueBecomeBlanks", "", "S", "k", "a\r\n[Evil]\nb",
                  "[S]\r\nk=a  [Evil] b\r\n"},
        WriteCase{"CommentLookAlikeIsNotTheKey", "[S]\n;k=1\n", "S", "k", "2", "[S]\n;k=1\nk=2\n"}),
    [](const testing::TestParamInfo<WriteCase>& param) { return std::string(param.param.Name); });

TEST(IniFile, FileRoundTripKeepsOtherBytes) {
    using namespace std::string_literals;
    test::TempFolder folder;
    const auto file = folder / "kavel.config";
    test::WriteBytes(file, "\xEF\xBB\xBF; comment\r\n[Options]\r\nUnknown=\xFF\x01\r\n\0\r\n[Other]\r\nx=1"s);
    IniFile ini(file);
    ini.WriteInteger("Options", "TimeDeleteAfter", 7);
    ini.WriteBool("Options", "MiscDnsResolve", false);
    ini.UpdateFile();
    EXPECT_EQ(test::ReadBytes(file), "\xEF\xBB\xBF; comment\r\n[Options]\r\nUnknown=\xFF\x01\r\n\0\r\n"
                                     "TimeDeleteAfter=7\r\nMiscDnsResolve=0\r\n[Other]\r\nx=1"s);
    const IniFile reread(file);
    EXPECT_EQ(reread.ReadInteger("Options", "TimeDeleteAfter", 0), 7);
    EXPECT_FALSE(reread.ReadBool("Options", "MiscDnsResolve", true));
}

TEST(IniFile, ByteOrderMarkBeforeTheFirstSection) {
    IniFile ini = IniFile::FromText("\xEF\xBB\xBF[Options]\r\nA=1\r\n");
    EXPECT_EQ(ini.ReadString("Options", "A"), "1");
    ini.WriteString("Options", "A", "2");
    EXPECT_EQ(ini.Text(), "\xEF\xBB\xBF[Options]\r\nA=2\r\n");
}

TEST(IniFile, MissingFileIsEmptyUnreadableThrows) {
    test::TempFolder folder;
    EXPECT_EQ(IniFile(folder / "none.ini").Text(), "");
    std::filesystem::create_directory(folder / "dir.ini");
    EXPECT_THROW(IniFile(folder / "dir.ini"), std::system_error);
}

TEST(IniFile, HugeLinesAndBinaryContent) {
    std::string text = "[S]\n" + std::string(1 << 22, 'x') + "\n";
    for (int i = 0; i < 256; ++i)
        text += static_cast<char>(i);
    text += "\nk=v";
    IniFile ini = IniFile::FromText(text);
    EXPECT_EQ(ini.ReadString("S", "k"), "v");
    ini.WriteString("S", "k", "w");
    EXPECT_EQ(ini.ReadString("S", "k"), "w");
    EXPECT_EQ(ini.Text().substr(0, text.size() - 1), text.substr(0, text.size() - 1));
}

} // namespace
} // namespace kavel
