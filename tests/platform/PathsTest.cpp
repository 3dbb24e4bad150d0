#include "platform/Paths.h"

#include "support/TempFolder.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <unistd.h>

namespace kavel::platform {
namespace {

// Sets or clears an environment variable for the scope and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : Name_(name) {
        if (const char* old = std::getenv(name))
            Old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (Old_)
            ::setenv(Name_, Old_->c_str(), 1);
        else
            ::unsetenv(Name_);
    }

private:
    const char* Name_;
    std::optional<std::string> Old_;
};

// Runs Paths::Init on the given arguments and returns what it left.
std::vector<std::string> Init(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    Paths::Init(argc, argv.data());
    EXPECT_EQ(argv[static_cast<std::size_t>(argc)], nullptr);
    return {argv.begin(), argv.begin() + argc};
}

class PathsTest : public testing::Test {
protected:
    ~PathsTest() override {
        Paths::SetHomeDir({});
        Paths::SetStylesFile({});
        Paths::SetExecutableDir({});
        Init({"kavel"});
    }
    ScopedEnv Home{"KAVEL_HOME", nullptr};
    ScopedEnv Styles{"KAVEL_STYLES_FILE", nullptr};
};

TEST_F(PathsTest, HomeDefaultsToTheExecutablesFolder) {
    Init({"kavel"});
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    const std::filesystem::path exe(std::string(buffer, static_cast<std::size_t>(n)));
    EXPECT_EQ(Paths::ExecutableDir(), exe.parent_path());
    EXPECT_EQ(Paths::HomeDir(), exe.parent_path());
    EXPECT_EQ(Paths::DefinitionFile(".servers"), exe.parent_path() / "kavel.servers");
}

TEST_F(PathsTest, OptionWinsOverEnvironment) {
    ScopedEnv env("KAVEL_HOME", "/from/env");
    EXPECT_EQ(Init({"kavel", "--home", "/from/option", "watch"}),
              (std::vector<std::string>{"kavel", "watch"}));
    EXPECT_EQ(Paths::HomeDir(), "/from/option");
    Init({"kavel", "x", "--home=/other"});
    EXPECT_EQ(Paths::HomeDir(), "/other");
    Init({"kavel"});
    EXPECT_EQ(Paths::HomeDir(), "/from/env");
    Paths::SetHomeDir("/set");
    EXPECT_EQ(Paths::HomeDir(), "/set");
    Paths::SetHomeDir({});
    EXPECT_EQ(Paths::HomeDir(), "/from/env");
}

TEST_F(PathsTest, OptionsAreTakenOutOfTheArguments) {
    EXPECT_EQ(Init({"kavel", "--styles", "/s.ini", "a", "--home", "/h", "b"}),
              (std::vector<std::string>{"kavel", "a", "b"}));
    EXPECT_EQ(Paths::StylesFile(), "/s.ini");
    EXPECT_EQ(Paths::HomeDir(), "/h");
    // An option without its value at the end, and look-alikes, stay for the caller.
    EXPECT_EQ(Init({"kavel", "--homework", "--home"}),
              (std::vector<std::string>{"kavel", "--homework", "--home"}));
    EXPECT_EQ(Init({}), std::vector<std::string>{});
}

TEST_F(PathsTest, DefinitionFilesAndHelpBesideEachOther) {
    Paths::SetHomeDir("/data/kavel");
    EXPECT_EQ(Paths::DefinitionFile(".servers"), "/data/kavel/kavel.servers");
    EXPECT_EQ(Paths::DefinitionFile(".config"), "/data/kavel/kavel.config");
    EXPECT_EQ(Paths::DefinitionFile(".revisitors"), "/data/kavel/kavel.revisitors");
    EXPECT_EQ(Paths::HelpFile().parent_path(), "/data/kavel");
}

TEST_F(PathsTest, StylesFileFromOptionEnvironmentOrConfigFolder) {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    Init({"kavel"});
    EXPECT_EQ(Paths::StylesFile(), "/cfg/Quarnet/Kavel.ini");
    {
        ScopedEnv relative("XDG_CONFIG_HOME", "relative");
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(Paths::StylesFile(), "/home/someone/.config/Quarnet/Kavel.ini");
    }
    ScopedEnv env("KAVEL_STYLES_FILE", "/env/styles.ini");
    Init({"kavel"});
    EXPECT_EQ(Paths::StylesFile(), "/env/styles.ini");
    Paths::SetStylesFile("/set.ini");
    EXPECT_EQ(Paths::StylesFile(), "/set.ini");
}

// A prefix laid out as an installation puts; "bin" alone does not make one.
TEST_F(PathsTest, InstalledLayoutDecidesDataAndHome) {
    test::TempFolder root;
    std::filesystem::create_directories(root / "usr" / "bin");
    std::filesystem::create_directories(root / "usr" / "share" / "kavel");
    std::filesystem::create_directories(root / "opt" / "bin");
    std::filesystem::create_directories(root / "build" / "src" / "cli");
    std::filesystem::create_directories(root / "odd" / "tools");
    std::filesystem::create_directories(root / "odd" / "share" / "kavel");
    ScopedEnv xdg("XDG_DATA_HOME", (root / "data").c_str());
    Init({"kavel"});
    const struct {
        std::filesystem::path ExeDir;
        bool Installed;
    } cases[] = {
        {root / "usr" / "bin", true},
        {root / "opt" / "bin", false},
        {root / "build" / "src" / "cli", false},
        {root / "odd" / "tools", false},
        {root / "missing" / "bin", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ExeDir.string());
        Paths::SetExecutableDir(c.ExeDir);
        EXPECT_EQ(Paths::IsInstalled(), c.Installed);
        if (c.Installed) {
            EXPECT_EQ(Paths::DataDir(), root / "usr" / "share" / "kavel");
            EXPECT_EQ(Paths::HomeDir(), root / "data" / "kavel");
            EXPECT_TRUE(std::filesystem::is_directory(root / "data" / "kavel"));
        } else {
            EXPECT_EQ(Paths::DataDir(), c.ExeDir);
            EXPECT_EQ(Paths::HomeDir(), c.ExeDir);
        }
    }
}

TEST_F(PathsTest, InstalledHomeStillYieldsToOptionAndEnvironment) {
    test::TempFolder root;
    std::filesystem::create_directories(root / "bin");
    std::filesystem::create_directories(root / "share" / "kavel");
    Paths::SetExecutableDir(root / "bin");
    {
        ScopedEnv env("KAVEL_HOME", "/from/env");
        Init({"kavel"});
        EXPECT_EQ(Paths::HomeDir(), "/from/env");
        Init({"kavel", "--home", "/from/option"});
        EXPECT_EQ(Paths::HomeDir(), "/from/option");
    }
    Init({"kavel"});
    ScopedEnv home("HOME", root.Path().c_str());
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative"}) {
        ScopedEnv data("XDG_DATA_HOME", xdg);
        EXPECT_EQ(Paths::UserDataDir(), root / ".local" / "share" / "kavel");
    }
}

// The paths are read by reader threads while the main thread may set them.
TEST_F(PathsTest, ReadsAndWritesFromSeveralThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                if (t == 0)
                    Paths::SetHomeDir(i % 2 ? "/a" : "/b");
                const auto file = Paths::DefinitionFile(".servers");
                EXPECT_TRUE(file == "/a/kavel.servers" || file == "/b/kavel.servers" ||
                            file.filename() == "kavel.servers");
                (void)Paths::StylesFile();
            }
        });
    for (auto& thread : threads)
        thread.join();
}

} // namespace
} // namespace kavel::platform
