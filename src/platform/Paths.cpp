#include "platform/Paths.h"

#include "platform/VersionInfo.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace kavel::platform {

namespace {

// Overrides set by Init or the setters; the environment is read once, on first use, so that
// a program that never calls Init still honours KAVEL_HOME and KAVEL_STYLES_FILE.
struct PathState {
    std::mutex Lock;
    bool EnvironmentRead = false;
    std::optional<std::filesystem::path> HomeOption;
    std::optional<std::filesystem::path> HomeEnvironment;
    std::optional<std::filesystem::path> StylesOption;
    std::optional<std::filesystem::path> StylesEnvironment;
    std::optional<std::filesystem::path> ExecutableDir;
};

PathState& State() {
    static PathState state;
    return state;
}

std::optional<std::filesystem::path> NonEmptyEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0')
        return std::nullopt;
    return std::filesystem::path(value);
}

void ReadEnvironmentLocked(PathState& state) {
    if (state.EnvironmentRead)
        return;
    state.HomeEnvironment = NonEmptyEnvironment("KAVEL_HOME");
    state.StylesEnvironment = NonEmptyEnvironment("KAVEL_STYLES_FILE");
    state.EnvironmentRead = true;
}

std::filesystem::path ExecutableDirLocked(PathState& state) {
    if (!state.ExecutableDir) {
        std::error_code ec;
        const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (!ec && exe.has_parent_path()) {
            state.ExecutableDir = exe.parent_path();
        } else {
            const std::filesystem::path current = std::filesystem::current_path(ec);
            state.ExecutableDir = ec ? std::filesystem::path(".") : current;
        }
    }
    return *state.ExecutableDir;
}

std::filesystem::path UserHome() {
    if (auto home = NonEmptyEnvironment("HOME"))
        return *home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir)
        return result->pw_dir;
    return "/tmp";
}

bool IsInstalledIn(const std::filesystem::path& exeDir) {
    if (exeDir.filename() != "bin")
        return false;
    std::error_code ec;
    return std::filesystem::is_directory(exeDir.parent_path() / "share" / DefinitionBaseName, ec);
}

std::filesystem::path DefaultStylesFile() {
    std::filesystem::path config;
    if (auto xdg = NonEmptyEnvironment("XDG_CONFIG_HOME"); xdg && xdg->is_absolute())
        config = *xdg;
    else
        config = UserHome() / ".config";
    return config / version::CompanyName / (std::string(version::ProductName) + ".ini");
}

// Takes "--name VALUE" or "--name=VALUE" at argv[i]; returns how many elements it used.
int TakeOption(int argc, char** argv, int i, const char* name, std::optional<std::filesystem::path>& value) {
    const std::size_t length = std::strlen(name);
    const char* arg = argv[i];
    if (std::strncmp(arg, name, length) != 0)
        return 0;
    if (arg[length] == '=') {
        value = std::filesystem::path(arg + length + 1);
        return 1;
    }
    if (arg[length] == '\0' && i + 1 < argc) {
        value = std::filesystem::path(argv[i + 1]);
        return 2;
    }
    return 0;
}

} // namespace

void Paths::Init(int& argc, char** argv) {
    PathState& state = State();
    std::lock_guard guard(state.Lock);
    state.EnvironmentRead = false;
    state.HomeOption.reset();
    state.StylesOption.reset();
    ReadEnvironmentLocked(state);
    int out = argc > 0 ? 1 : 0;
    for (int i = out; i < argc;) {
        int used = TakeOption(argc, argv, i, "--home", state.HomeOption);
        if (used == 0)
            used = TakeOption(argc, argv, i, "--styles", state.StylesOption);
        if (used == 0) {
            argv[out++] = argv[i++];
            continue;
        }
        i += used;
    }
    for (int i = out; i < argc; ++i)
        argv[i] = nullptr;
    argc = out;
}

std::filesystem::path Paths::HomeDir() {
    PathState& state = State();
    std::lock_guard guard(state.Lock);
    ReadEnvironmentLocked(state);
    if (state.HomeOption)
        return *state.HomeOption;
    if (state.HomeEnvironment)
        return *state.HomeEnvironment;
    const std::filesystem::path exeDir = ExecutableDirLocked(state);
    if (!IsInstalledIn(exeDir))
        return exeDir;
    // The definition files are written by renaming a temporary file into this folder, which
    // fails when the folder is missing; a fresh user has none yet.
    std::filesystem::path dir = Paths::UserDataDir();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

void Paths::SetHomeDir(const std::filesystem::path& dir) {
    PathState& state = State();
    std::lock_guard guard(state.Lock);
    if (dir.empty())
        state.HomeOption.reset();
    else
        state.HomeOption = dir;
}

std::filesystem::path Paths::StylesFile() {
    PathState& state = State();
    std::unique_lock guard(state.Lock);
    ReadEnvironmentLocked(state);
    if (state.StylesOption)
        return *state.StylesOption;
    if (state.StylesEnvironment)
        return *state.StylesEnvironment;
    guard.unlock();
    return DefaultStylesFile();
}

void Paths::SetStylesFile(const std::filesystem::path& file) {
    PathState& state = State();
    std::lock_guard guard(state.Lock);
    if (file.empty())
        state.StylesOption.reset();
    else
        state.StylesOption = file;
}

std::filesystem::path Paths::ExecutableDir() {
    PathState& state = State();
    std::lock_guard guard(state.Lock);
    return ExecutableDirLocked(state);
}

std::filesystem::path Paths::DefinitionFile(std::string_view extension) {
    return DefinitionFileIn(HomeDir(), extension);
}

std::filesystem::path Paths::DefinitionFileIn(const std::filesystem::path& home, std::string_view extension) {
    return home / (std::string(DefinitionBaseName) + std::string(extension));
}

std::filesystem::path Paths::HelpFile() {
    return DefinitionFile(".chm");
}

void Paths::SetExecutableDir(const std::filesystem::path& dir) {
    PathState& state = State();
    std::lock_guard guard(state.Lock);
    if (dir.empty())
        state.ExecutableDir.reset();
    else
        state.ExecutableDir = dir;
}

bool Paths::IsInstalled() {
    return IsInstalledIn(ExecutableDir());
}

std::filesystem::path Paths::DataDir() {
    const std::filesystem::path exeDir = ExecutableDir();
    if (IsInstalledIn(exeDir))
        return exeDir.parent_path() / "share" / DefinitionBaseName;
    return exeDir;
}

std::filesystem::path Paths::UserDataDir() {
    if (auto xdg = NonEmptyEnvironment("XDG_DATA_HOME"); xdg && xdg->is_absolute())
        return *xdg / DefinitionBaseName;
    return UserHome() / ".local" / "share" / DefinitionBaseName;
}

} // namespace kavel::platform
