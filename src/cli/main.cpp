#include "EntryFormat.h"
#include "ParseCommand.h"
#include "WatchCommand.h"
#include "base/VersionInfo.h"
#include "platform/Paths.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr const char* Usage = R"(Usage: kavel-cli COMMAND [OPTIONS]

Commands:
  parse     parse log lines as one server's reader would and print every access
            (kavel-cli parse --help)
  watch     run the readers of all servers and print the accesses live
            (kavel-cli watch --help; --demo for a built-in demo workspace)

Options for every command:
  --home DIR      folder of kavel.config and the definition lists (also KAVEL_HOME;
                  default: ~/.local/share/kavel when installed, else the program's folder)
  --styles FILE   per-user styles file (also KAVEL_STYLES_FILE)
  --version       print the version and exit
  --help          this text
)";

} // namespace

// Each command gets the arguments from its own name on (argv[0] is the command), with the
// options of the home folder already taken out.
int main(int argc, char** argv) {
    kavel::platform::Paths::Init(argc, argv);
    if (argc < 2) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const std::string_view command = argv[1];
    if (command == "parse") {
        return kavel::cli::RunParse(argc - 1, argv + 1);
    }
    if (command == "watch") {
        return kavel::cli::RunWatch(argc - 1, argv + 1);
    }
    if (command == "--version") {
        std::printf("kavel-cli %s\n", kavel::VersionInfoValue("", "FileVersion").c_str());
        return 0;
    }
    if (command == "--help" || command == "-h") {
        std::fputs(Usage, stdout);
        return 0;
    }
    kavel::cli::PrintMessage(stderr, "kavel-cli: unknown command '" + std::string(command) + "'");
    std::fprintf(stderr, "\n%s", Usage);
    return 2;
}
