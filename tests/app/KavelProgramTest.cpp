#include "support/TempFolder.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

namespace kavel {
namespace {

std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// The real program, offscreen, on its demo workspace: it fills its lists from the readers,
// closes itself after 20 rows through its test hook and writes its files back on the way out.
TEST(KavelProgramTest, TheDemoFillsTheListsAndEndsCleanly) {
    test::TempFolder folder;
    const std::filesystem::path home = folder / "home";
    const std::filesystem::path styles = folder / "styles.ini";
    const std::string command = "QT_QPA_PLATFORM=offscreen KAVEL_EXIT_AFTER_ROWS=20 timeout 120 " +
                                Quoted(KAVEL_PATH) + " --demo --home " + Quoted(home) + " --styles " +
                                Quoted(styles) + " 2>" + Quoted(folder / "stderr.txt");
    FILE* program = ::popen(command.c_str(), "r");
    ASSERT_NE(program, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, program) != nullptr)
        output += buffer;
    const int status = ::pclose(program);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output << test::ReadBytes(folder / "stderr.txt");
    EXPECT_NE(output.find("Zugriffe angezeigt"), std::string::npos) << output;
    // Closing stored the layout; the end wrote the servers and revisitors files.
    const std::string stylesText = test::ReadBytes(styles);
    EXPECT_NE(stylesText.find("ListViewLogWidthes="), std::string::npos) << stylesText;
    EXPECT_TRUE(std::filesystem::exists(home / "kavel.revisitors"));
    EXPECT_NE(test::ReadBytes(home / "kavel.servers").find("www.demo.example"), std::string::npos);
}

} // namespace
} // namespace kavel
