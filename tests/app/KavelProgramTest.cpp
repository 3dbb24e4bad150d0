#include "support/ChildProcess.h"
#include "support/TempFolder.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <system_error>

namespace kavel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// Every run of the program in these tests, offscreen, with its own view settings.
class KavelProgramTest : public testing::Test {
protected:
    std::unique_ptr<ChildProcess> Start(const std::string& name, std::vector<std::string> arguments,
                                        std::vector<std::string> environment = {}) {
        arguments.insert(arguments.end(), {"--styles", (Folder_ / (name + ".ini")).string()});
        environment.emplace_back("QT_QPA_PLATFORM=offscreen");
        auto program =
            std::make_unique<ChildProcess>(KAVEL_PATH, arguments, environment, Folder_.Path(), name);
        EXPECT_TRUE(program->Started()) << name;
        return program;
    }

    static std::uintmax_t SizeOf(const std::filesystem::path& file) {
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(file, ec);
        return ec ? 0 : size;
    }

    test::TempFolder Folder_;
};

// The real program on its demo workspace: it fills its lists from the readers, closes itself
// after 20 rows through its test hook and writes its files back on the way out.
TEST_F(KavelProgramTest, TheDemoFillsTheListsAndEndsCleanly) {
    const std::filesystem::path home = Folder_ / "home";
    auto program = Start("demo", {"--demo", "--home", home.string()}, {"KAVEL_EXIT_AFTER_ROWS=20"});
    ASSERT_TRUE(program->WaitForExit(120s)) << program->Errors();
    EXPECT_EQ(program->ExitStatus(), 0) << program->Output() << program->Errors();
    EXPECT_NE(program->Output().find("Zugriffe angezeigt"), std::string::npos) << program->Output();
    // Closing stored the layout; the end wrote the servers and revisitors files.
    const std::string styles = test::ReadBytes(Folder_ / "demo.ini");
    EXPECT_NE(styles.find("ListViewLogWidthes="), std::string::npos) << styles;
    EXPECT_TRUE(std::filesystem::exists(home / "kavel.revisitors"));
    EXPECT_NE(test::ReadBytes(home / "kavel.servers").find("www.demo.example"), std::string::npos);
}

// The lock guards a workspace: a second instance on another workspace runs without a question;
// one on the same workspace asks, and a stop signal while it asks ends it without writing.
TEST_F(KavelProgramTest, OneWorkspaceTwiceAsksAndAStopSignalEndsTheQuestion) {
    const std::filesystem::path shared = Folder_ / "shared";
    auto first = Start("first", {"--demo", "--home", shared.string()});
    // The demo's traffic starts once the window runs, its lock taken.
    const std::filesystem::path log = shared / "www-access.log";
    ASSERT_TRUE(ChildProcess::WaitUntil([&] { return SizeOf(log) > 0; }, 60s)) << first->Errors();
    const std::uintmax_t initial = SizeOf(log);
    ASSERT_TRUE(ChildProcess::WaitUntil([&] { return SizeOf(log) > initial; }, 60s)) << first->Errors();

    auto other =
        Start("other", {"--demo", "--home", (Folder_ / "other").string()}, {"KAVEL_EXIT_AFTER_ROWS=5"});
    ASSERT_TRUE(other->WaitForExit(120s)) << other->Errors();
    EXPECT_EQ(other->ExitStatus(), 0) << other->Errors();
    EXPECT_NE(other->Output().find("Zugriffe angezeigt"), std::string::npos) << other->Errors();
    EXPECT_EQ(other->Errors().find("bereits von Kavel verwendet"), std::string::npos) << other->Errors();

    const std::string servers = test::ReadBytes(shared / "kavel.servers");
    auto second = Start("second", {"--home", (shared / "").string()});
    ASSERT_TRUE(ChildProcess::WaitUntil(
        [&] { return second->Errors().find("bereits von Kavel verwendet") != std::string::npos; }, 60s))
        << second->Errors();
    second->Signal(SIGTERM);
    ASSERT_TRUE(second->WaitForExit(30s)) << "a stop signal did not end the open question";
    EXPECT_EQ(second->ExitStatus(), 0) << second->Errors();
    EXPECT_FALSE(std::filesystem::exists(Folder_ / "second.ini"));
    EXPECT_EQ(test::ReadBytes(shared / "kavel.servers"), servers);

    first->Signal(SIGINT);
    ASSERT_TRUE(first->WaitForExit(60s)) << first->Errors();
    EXPECT_EQ(first->ExitStatus(), 0) << first->Errors();
    EXPECT_NE(test::ReadBytes(Folder_ / "first.ini").find("MainWidth="), std::string::npos);
}

// An error box that waits for its OK does not keep a stop signal from ending the program,
// which closes its window as at any other end.
TEST_F(KavelProgramTest, AStopSignalEndsTheProgramWhileAnErrorBoxIsOpen) {
    const std::filesystem::path home = Folder_ / "home";
    // The revisitors are read once the window runs: the error box opens over the window, right
    // after the error is written to standard error.
    std::filesystem::create_directories(home / "kavel.revisitors");
    auto program = Start("broken", {"--home", home.string()});
    ASSERT_TRUE(
        ChildProcess::WaitUntil([&] { return program->Errors().find("Fehler:") != std::string::npos; }, 60s))
        << program->Errors();
    program->Signal(SIGTERM);
    ASSERT_TRUE(program->WaitForExit(30s)) << "a stop signal did not end the program: " << program->Errors();
    EXPECT_EQ(program->ExitStatus(), 0) << program->Errors();
    // The window closed as a user closes it: its layout is stored.
    EXPECT_NE(test::ReadBytes(Folder_ / "broken.ini").find("MainWidth="), std::string::npos)
        << program->Errors();
}

} // namespace
} // namespace kavel
