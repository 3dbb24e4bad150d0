#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavel::platform {

// The one place that knows where Kavel's files live. The definition files and the ".config"
// file sit in the home folder unless the command line's "--home DIR" or the environment's
// KAVEL_HOME says otherwise (the option wins): for an installed program the user's data folder
// ($XDG_DATA_HOME/kavel or ~/.local/share/kavel), for a run from the build folder the
// executable's folder. Installed read-only data sits in <exe>/../share/kavel, so a relocated
// installation works. The per-user
// styles file sits in the user's configuration folder ($XDG_CONFIG_HOME or ~/.config,
// "Quarnet/Kavel.ini"), overridden by "--styles FILE" or KAVEL_STYLES_FILE.
class Paths {
public:
    // Reads the overrides from the environment and from argv; removes the options it took
    // from argv (argc is updated) so that the caller sees only its own arguments.
    static void Init(int& argc, char** argv);

    static std::filesystem::path HomeDir();
    // An empty path removes the override set before (tests restore the default this way).
    static void SetHomeDir(const std::filesystem::path& dir);
    static std::filesystem::path StylesFile();
    static void SetStylesFile(const std::filesystem::path& file);
    static std::filesystem::path ExecutableDir();
    // Test seam: pretends the executable lives in dir; an empty path restores the real one.
    static void SetExecutableDir(const std::filesystem::path& dir);

    // Installed means the executable sits in a folder named "bin" beside "share/kavel"; a
    // binary that merely happens to be in some bin folder stays a build-folder run.
    static bool IsInstalled();
    // Read-only data shipped with the program (help pages): <exe>/../share/kavel when
    // installed, else the executable's folder.
    static std::filesystem::path DataDir();
    // $XDG_DATA_HOME/kavel when that is absolute, else ~/.local/share/kavel.
    static std::filesystem::path UserDataDir();

    // The home folder's file named after the desktop program with the given extension:
    // DefinitionFile(".servers") is HOME/kavel.servers.
    static std::filesystem::path DefinitionFile(std::string_view extension);
    // The same in another home folder.
    static std::filesystem::path DefinitionFileIn(const std::filesystem::path& home,
                                                  std::string_view extension);
    // The help file, beside the definition files.
    static std::filesystem::path HelpFile();
};

// The base name of every definition file: the desktop program's executable name.
inline constexpr const char* DefinitionBaseName = "kavel";

} // namespace kavel::platform
