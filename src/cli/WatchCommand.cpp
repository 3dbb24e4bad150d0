#include "WatchCommand.h"

#include "AlertConsole.h"
#include "DemoTraffic.h"
#include "EntryFormat.h"
#include "EntryGrep.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/LogReader.h"
#include "acquisition/ProgramLifecycle.h"
#include "acquisition/ReaderHandshake.h"
#include "acquisition/ReaderRegistry.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "base/LineBlocks.h"
#include "config/AppSettings.h"
#include "parsing/SuspiciousRequests.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/LocaleFormat.h"
#include "platform/Paths.h"
#include "platform/Tone.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <variant>

namespace kavel::cli {

namespace {

constexpr std::string_view WatchUsageStart =
    R"(Usage: kavel-cli watch [--home DIR] [--demo] [--for SECONDS] [--count N] [--quiet-popups]
                       [--format table|tsv|json] [--demo-errors] [--demo-pause]
                       [--grep PATTERN [--regex] [--ignore-case]]

Runs Kavel without a window: loads the definition files of the home folder (kavel.servers,
kavel.documents, kavel.buddies, kavel.spiders, kavel.revisitors, kavel.config), starts one
reader per server and prints every access the readers report, until Ctrl+C or SIGTERM; then
the readers are stopped and the definition files are written back as the program's end does.

Output on standard output, flushed after each take-over, in one of three formats:
  table   (the default when standard output is a terminal) aligned columns for a person:
          time, server, host, status and page; a suspicious request adds an indented line
          "! MESSAGE", both in red unless NO_COLOR is set. Control bytes from the logs are
          shown escaped as in the tsv format, and bytes that are not UTF-8 as \xhh.
  tsv     (the default otherwise) the stable format for scripts:
            SERVER<TAB>FIELDS      one line per access: the server's name, then the fields
                                   of "kavel-cli parse" (kavel-cli parse --help describes
                                   them)
            !<TAB>CODE<TAB>SERVER<TAB>TIME<TAB>MESSAGE
                                   one line per suspicious request, after its access line
  json    one JSON object per line and access (JSON Lines) with the keys server, time, date,
          address, host, resolved, user, method, page, status, bytes, protocol, referer,
          user_agent, document, visitor ("new", "known" or "revisitor"), spider, buddy and
          suspicion ({"code", "message"} or null); W3C Extended servers add server_address,
          server_host, site, computer, server_port, sub_status, win32_status,
          bytes_received, time_taken and cookie. Log bytes that are not UTF-8 are written
          as \u00XX, one per byte, and direction controls as \uXXXX.
Reader events (log file missing, new-document popups) go to standard error. Every format
and every message escapes the direction controls (U+202E and the other embeddings, overrides,
isolates and marks) as it escapes control bytes, and the table and the messages show bytes
that are not UTF-8 as \xhh: a log line or a name can neither act on the terminal nor reorder
what it shows.

Alerts: the rules of kavel.alerts in the home folder are checked as the accesses come in and
by the clock, as the desktop program checks them. Each alert is printed on standard error,
"Alarm RULE auf SERVER: WHAT" (with --format json one JSON object per line with the keys
type "alert", id, rule, server, condition, threshold, window_minutes, count, time, summary,
body, access, actions, command and test); a rule with "beep" rings the terminal's bell, and a
rule with "run" starts its command (killed after 30 s, one run per rule at a time), whose
result follows as "Alarm-Befehl RULE auf SERVER: Exit-Status N" with its first output lines
(JSON: type "alert_command", id, rule, server, result, exit_code, output).

Options:
  --home DIR       the workspace (also KAVEL_HOME; default: the user's data folder
                   ~/.local/share/kavel for an installed program, else the program's folder)
  --demo           create a demo workspace (a temporary folder unless --home is given and
                   already holds kavel.servers) with two servers, and write live traffic
                   into their logs
  --for SECONDS    stop by itself after this many seconds
  --count N        stop by itself once every server has printed N accesses
  --quiet-popups   do not print the new-document popups
  --format FORMAT  table, tsv or json (see above)
  --demo-errors    with --demo: www.demo.example answers a few requests with 500 and 503
                   every minute
  --demo-pause     with --demo: www.demo.example falls silent 30 s after the start for
                   three minutes
)";

constexpr std::string_view WatchUsageEnd = R"(  --help           this text

Exit status: 0 on success, 1 when a definition file or the options file could not be read
or a definition file could not be written back at the end (the run goes on with what it
has), 2 for a usage error.
)";

std::string WatchUsage() {
    return std::string(WatchUsageStart) + GrepHelp(19) + std::string(WatchUsageEnd);
}

// Shows on standard error what the window would show in the tree and the popup.
class ConsoleReaderView final : public ReaderView {
public:
    explicit ConsoleReaderView(bool popups)
        : Popups_(popups) {}

    void SetServerNodeStatus(Server& server, ServerStatus status) override {
        if (status != ServerStatus::Missing)
            return;
        // The reader set its state text to what is wrong before it changed the status.
        std::string why = "Protokolldatei fehlt";
        if (const auto* reader = dynamic_cast<const LogReader*>(server.Thread()))
            why = reader->State();
        PrintMessage(stderr, server.Name() + ": " + why + ": " + ExpandLogFileName(server));
    }

    void ShowPopup(const std::string& text, const std::string& caption, VisitorMark) override {
        if (!Popups_)
            return;
        std::string oneLine;
        for (char c : text)
            if (c != '\r')
                oneLine += c == '\n' ? ' ' : c;
        PrintMessage(stderr, "[" + caption + "] " + oneLine);
    }

private:
    bool Popups_;
};

enum class OutputFormat { Table, Tsv, Json };

std::optional<OutputFormat> ParseOutputFormat(std::string_view name) {
    if (name == "table")
        return OutputFormat::Table;
    if (name == "tsv")
        return OutputFormat::Tsv;
    if (name == "json")
        return OutputFormat::Json;
    return std::nullopt;
}

// A person reads a terminal; a pipe or file is read by a program and gets the stable format.
OutputFormat DefaultOutputFormat() {
    return ::isatty(STDOUT_FILENO) == 1 ? OutputFormat::Table : OutputFormat::Tsv;
}

// Colour only for a terminal that can show it, and never against the user's NO_COLOR.
bool UseColour() {
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) == 1 && (noColour == nullptr || noColour[0] == '\0') && term != nullptr &&
           std::string_view(term) != "dumb";
}

void PrintEntry(LogEntry& entry, const SpiderList& spiders, OutputFormat format, bool colour) {
    const LinePin pin(entry);
    const SuspicionCheck check = CheckSuspicious(entry.Access(), spiders);
    const std::string serverName = entry.Server ? entry.Server->Name() : std::string();
    std::string out;
    switch (format) {
    case OutputFormat::Json:
        out = FormatEntryJson(serverName, entry, check);
        out += '\n';
        break;
    case OutputFormat::Table:
        out = FormatEntryColumns(serverName, entry, check, colour);
        out += '\n';
        break;
    case OutputFormat::Tsv:
        out = EscapeField(serverName);
        out += '\t';
        out += FormatEntryLine(entry, check);
        out += '\n';
        if (check.Code != -1) {
            out += "!\t" + std::to_string(check.Code) + '\t' + EscapeField(serverName) + '\t' +
                   EscapeField(platform::FormatDateTimeOmitMidnight(entry.Time)) + '\t' +
                   EscapeField(check.Message) + '\n';
        }
        break;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// Only the main thread removes entries; the readers never keep an expired one long.
void RemoveExpiredEntries(EntryQueue& queue) {
    for (LogEntry* entry = queue.First(); entry != nullptr;) {
        LogEntry* next = queue.Next(entry);
        if (!entry->IsNew.load() && IsExpired(*entry))
            queue.Remove(entry);
        entry = next;
    }
}

std::filesystem::path MakeTemporaryHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavel-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder for the demo");
    return pattern;
}

} // namespace

int RunWatch(int argc, char** argv) {
    bool demo = false;
    DemoIncidents incidents;
    bool popups = true;
    std::optional<double> seconds;
    std::optional<long> count;
    OutputFormat format = DefaultOutputFormat();
    GrepOptions grepOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        bool grepOption = false;
        try {
            grepOption = grepOptions.Take(argc, argv, i);
        } catch (const std::invalid_argument& error) {
            std::fprintf(stderr, "kavel-cli watch: %s\n", error.what());
            return 2;
        }
        if (grepOption)
            continue;
        if (arg == "--demo") {
            demo = true;
        } else if (arg == "--demo-errors") {
            incidents.Errors = true;
        } else if (arg == "--demo-pause") {
            incidents.Pause = true;
        } else if (arg == "--quiet-popups") {
            popups = false;
        } else if (arg == "--for" && i + 1 < argc) {
            char* end = nullptr;
            const double value = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || value < 0) {
                std::fprintf(stderr, "kavel-cli watch: --for needs a number of seconds\n");
                return 2;
            }
            seconds = value;
        } else if (arg == "--count" && i + 1 < argc) {
            char* end = nullptr;
            const long value = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || value < 1) {
                std::fprintf(stderr, "kavel-cli watch: --count needs a number of accesses\n");
                return 2;
            }
            count = value;
        } else if (arg == "--format" && i + 1 < argc) {
            const auto chosen = ParseOutputFormat(argv[++i]);
            if (!chosen) {
                std::fprintf(stderr, "kavel-cli watch: --format needs table, tsv or json\n");
                return 2;
            }
            format = *chosen;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(WatchUsage().c_str(), stdout);
            return 0;
        } else {
            PrintMessage(stderr, "kavel-cli watch: unknown argument '" + std::string(arg) + "'");
            std::fprintf(stderr, "\n%s", WatchUsage().c_str());
            return 2;
        }
    }

    auto madeGrep = EntryGrep::Make(grepOptions);
    if (const auto* error = std::get_if<std::string>(&madeGrep)) {
        PrintMessage(stderr, "kavel-cli watch: " + *error);
        return 2;
    }
    EntryGrep& grep = std::get<EntryGrep>(madeGrep);

    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    platform::SystemLocaleFormat localeFormat;
    platform::SetCurrentLocaleFormat(&localeFormat);

    // Ctrl+C and SIGTERM are taken by one thread with sigwait, so the loop is ended from an
    // ordinary thread rather than from a signal handler. Blocked before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::optional<DemoHome> demoHome;
    try {
        if (demo) {
            std::filesystem::path home = platform::Paths::HomeDir();
            // The default home is the user's real workspace once installed: the demo never
            // writes its servers there.
            if (!std::filesystem::exists(home / "kavel.servers") && !std::getenv("KAVEL_HOME") &&
                (home == platform::Paths::ExecutableDir() || home == platform::Paths::UserDataDir()))
                home = MakeTemporaryHome();
            platform::Paths::SetHomeDir(home);
            demoHome = CreateDemoHome(home);
            PrintMessage(stderr, "Demo-Arbeitsbereich: " + home.string());
        }
    } catch (const std::exception& error) {
        PrintMessage(stderr, std::string("kavel-cli watch: ") + error.what());
        return 1;
    }

    const auto reportError = [](const std::string& message) { PrintMessage(stderr, "Fehler: " + message); };
    Workspace space(platform::Paths::HomeDir());
    ProgramLifecycle lifecycle(space, reportError);
    grep.Bind(space.Spiders());
    platform::LoopDispatcher loop;

    // Waits from before the lists are read, so that Ctrl+C also ends a long load.
    std::atomic<bool> stop{false};
    std::thread signalWaiter([&stop, &loop, &lifecycle, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        stop.store(true);
        lifecycle.RequestStop();
        loop.Post([] {});
    });

    lifecycle.CreateObjects();
    std::unique_ptr<SettingsStore> options = lifecycle.CreateOptions();
    space.SetOptions(options.get());

    platform::ScopedDispatcher dispatcher(loop);
    platform::TerminalBellTone bell;
    platform::ScopedTone tone(bell);
    ConsoleReaderView view(popups);
    space.Readers().SetView(&view);

    // Accesses printed per server, for --count: a caller that waits for output ends the run
    // by what it saw, not by the clock.
    std::unordered_map<const Server*, long> printed;
    bool enough = false;
    const bool colour = format == OutputFormat::Table && UseColour();
    AlertConsole alerts(space, format == OutputFormat::Json);
    ReaderHandshake handshake(space, [&](LogEntry& first) {
        alerts.Observe(first);
        TakeOverNewEntries(space.Entries(), first, [&](LogEntry& entry) {
            if (!grep.Matches(entry))
                return;
            PrintEntry(entry, space.Spiders(), format, colour);
            ++printed[entry.Server];
        });
        std::fflush(stdout);
        if (count && printed.size() == space.Servers().Count() &&
            std::all_of(printed.begin(), printed.end(), [&](const auto& p) { return p.second >= *count; }))
            enough = true;
    });
    loop.SetIdleHandler([&handshake] { return handshake.ResumePendingReader(); });

    std::unique_ptr<DemoTraffic> traffic;
    lifecycle.LoadDefinitions();
    alerts.Load(lifecycle);
    if (space.Servers().Count() == 0 && !lifecycle.StopRequested())
        PrintMessage(stderr,
                     "Keine Webserver definiert (" + space.DefinitionFile(".servers").string() + ").");
    if (demoHome) {
        traffic = std::make_unique<DemoTraffic>(*demoHome);
        traffic->SetIncidents(incidents);
        traffic->Start();
    }

    using SteadyClock = std::chrono::steady_clock;
    const auto started = SteadyClock::now();
    auto nextSweep = started + std::chrono::seconds(10);
    while (!stop.load() && !enough) {
        loop.RunUntil([&] { return stop.load() || enough; }, std::chrono::milliseconds(500));
        alerts.Tick();
        const auto now = SteadyClock::now();
        if (seconds && now - started >= std::chrono::duration<double>(*seconds))
            break;
        if (now >= nextSweep) {
            RemoveExpiredEntries(space.Entries());
            nextSweep = now + std::chrono::seconds(10);
        }
    }

    if (traffic)
        traffic->Stop();
    handshake.SetClosing(true);
    loop.SetIdleHandler({});
    lifecycle.StopReaders([](const std::string& text) { PrintMessage(stderr, text); });
    space.Readers().SetView(nullptr);
    lifecycle.Finish(options.get(), nullptr);
    space.SetOptions(nullptr);
    std::fflush(stdout);

    if (!stop.load())
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    // The run went on with what could be read and wrote what it could; the status tells a caller
    // that something is missing or was not saved.
    return lifecycle.ReadFailed() || lifecycle.WriteFailed() ? 1 : 0;
}

} // namespace kavel::cli
