#include "ParseCommand.h"

#include "EntryFormat.h"
#include "EntryGrep.h"
#include "SummaryFormat.h"
#include "acquisition/AccessSummary.h"
#include "acquisition/EntryParsing.h"
#include "acquisition/EntryPipeline.h"
#include "acquisition/EntryQueue.h"
#include "acquisition/Server.h"
#include "acquisition/Workspace.h"
#include "base/DefinitionFile.h"
#include "base/LineBlocks.h"
#include "base/Text.h"
#include "config/AppSettings.h"
#include "net/ReverseLookup.h"
#include "parsing/AccessRecord.h"
#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"
#include "parsing/SuspiciousRequests.h"
#include "platform/Clock.h"
#include "platform/LocaleFormat.h"
#include "platform/Paths.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace kavel::cli {

namespace {

constexpr std::string_view ParseHelpStart = R"(Usage: kavel-cli parse [OPTIONS] [FILE...]

Reads log lines from the FILEs (or standard input when none is given or FILE is "-") as the
lines of one server and prints one output line per input line. Every line goes the way a
log reader sends it: lines beginning with "#" or a blank are skipped, the others are parsed
by the server's log format, entries outside the server's keep period are dropped, accepted
entries are appended to one queue (so the revisit rule sees the earlier lines), and the
exception rules run over every accepted entry.

Options:
  --server LINE   the server as a line of the servers file,
                  "name;template;keep;poll;type;fields;zone;active;realtime;sound;unit;popup"
                  (or just "name;template"); default: an NCSA Combined server with the
                  default fields. Type 1 with a field mask reads W3C Extended logs.
  --home DIR      folder of kavel.config and of the kavel.documents, kavel.buddies,
                  kavel.spiders and kavel.revisitors lists (also KAVEL_HOME); default: the
                  desktop program's folder.
  --now 'YYYY-MM-DD HH:MM:SS'
                  fix the clock (keep periods, revisit rule); default: the real clock.
  --hosts FILE    answer reverse name look-ups from FILE ("address;host name" lines, "#"
                  lines skipped) instead of the system resolver; addresses not listed have
                  no name. Look-ups happen only when MiscDnsResolve in kavel.config is on
                  (the default).
  --summary       print only the counts at the end instead of one line per input line.
  --top N         with the counts, the overview's totals and its top lists, N rows each
                  (0: every row); implies --summary.
  --format FORMAT text (the default) or json: the summary as one JSON object, with the
                  top lists (10 rows each unless --top says otherwise); needs --summary
                  or --top.
  --save          write the documents, buddies, spiders and revisitors lists back to the
                  home folder at the end, as the desktop program does when it ends.
)";

constexpr std::string_view ParseHelpEnd = R"(  --help          this text.

Output, one line per input line:
  -               the line was dropped (comment, not parseable, outside the keep period)
  otherwise tab-separated fields in this order:
    entry time (YYYY-MM-DD HH:MM:SS), DateText, Address, HostName, Resolved, User, Method,
    Page, Status, Bytes, Protocol, Referer, UserAgent, IsDocument, VisitorState (0 new,
    1 known, 2 revisitor), IsSpider, IsBuddy, VisitorImage, StatusImage, BrowserImage,
    exception code (-1 when no rule fired), exception image (24 when none fired),
    exception message (empty when none fired);
    for W3C Extended servers followed by ServerAddress, ServerHostName, SiteName,
    ComputerName, ServerPort, SubStatus, Win32Status, BytesReceived, TimeTaken, Cookie.
  Booleans are 0 or 1. Field bytes are written unchanged except backslash, tab, CR and LF,
  written as \\, \t, \r and \n, and other control bytes (0x00-0x1f, 0x7f, 0x80-0x9f
  alone or UTF-8 encoded) and the UTF-8 bytes of the direction controls (U+061C, U+200E,
  U+200F, U+202A-U+202E, U+2066-U+2069) written as \x and two lower-case hexadecimal
  digits each. Input lines end at LF or CR LF; a last line without an end counts.

--summary prints six lines, each a name, a tab and a number:
  lines read, accepted, documents, spiders, revisitors (accepted revisitor accesses),
  exceptions (accepted entries for which an exception rule fired).
--top adds, in the same form, visitors (distinct client addresses), bytes, errors (status
  400 or above) and status 1xx, 2xx, 3xx, 4xx, 5xx and other; then the top lists, counted
  as the overview page of the desktop program counts them: status codes, pages (without
  their query), documents, pages not found (404), client addresses (the resolved name where
  there is one), referring sites (hosts of referring pages that are not the server's own),
  user agents (by browser, spiders together), spiders (by their spiders-list entry) and
  exceptions. Each list is a blank line, its name, a tab and its number of distinct keys,
  then one line per row: a tab, the count, a tab, the share of the list's sum in percent
  with one decimal, a tab and the key, escaped as the fields above.

With --grep only the matching accesses are printed (no "-" lines), and every count but
"lines read" counts only them; all lines still go through the queue and the revisit rule.

Exit status: 0 on success, 1 when a file could not be read or a list could not be
written, 2 for a usage error.
)";

struct ParseOptions {
    GrepOptions Grep;
    std::optional<std::string> ServerLine;
    std::optional<std::string> Now;
    std::optional<std::string> HostsFile;
    std::optional<std::string> Top;
    std::optional<std::string> Format;
    // From --top and --format: the overview's top lists after the counts, their rows, JSON.
    bool Panels = false;
    std::size_t TopRows = 10;
    bool Json = false;
    bool Summary = false;
    bool Save = false;
    bool Help = false;
    std::vector<std::string> Files;
};

struct Counts {
    std::int64_t LinesRead = 0;
    std::int64_t Accepted = 0;
    std::int64_t Documents = 0;
    std::int64_t Spiders = 0;
    std::int64_t Revisitors = 0;
    std::int64_t Exceptions = 0;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "--name VALUE" or "--name=VALUE" at argv[i]; advances i past what it used.
bool TakeValue(int argc, char** argv, int& i, std::string_view name, std::optional<std::string>& value) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, name.size()) != name) {
        return false;
    }
    if (arg.size() > name.size() && arg[name.size()] == '=') {
        value = std::string(arg.substr(name.size() + 1));
        ++i;
        return true;
    }
    if (arg.size() != name.size()) {
        return false;
    }
    if (i + 1 >= argc) {
        throw UsageError(std::string(name) + " needs a value");
    }
    value = std::string(argv[i + 1]);
    i += 2;
    return true;
}

bool TakeGrep(int argc, char** argv, int& i, GrepOptions& grep) {
    try {
        return grep.Take(argc, argv, i);
    } catch (const std::invalid_argument& error) {
        throw UsageError(error.what());
    }
}

ParseOptions ReadOptions(int argc, char** argv) {
    ParseOptions options;
    bool onlyFiles = false;
    for (int i = 1; i < argc;) {
        const std::string_view arg = argv[i];
        if (onlyFiles || arg == "-" || arg.substr(0, 2) != "--") {
            if (!onlyFiles && arg.size() > 1 && arg[0] == '-') {
                throw UsageError("unknown option " + std::string(arg));
            }
            options.Files.emplace_back(arg);
            ++i;
        } else if (arg == "--") {
            onlyFiles = true;
            ++i;
        } else if (arg == "--summary") {
            options.Summary = true;
            ++i;
        } else if (arg == "--save") {
            options.Save = true;
            ++i;
        } else if (arg == "--help") {
            options.Help = true;
            ++i;
        } else if (TakeGrep(argc, argv, i, options.Grep)) {
            ++i;
        } else if (!TakeValue(argc, argv, i, "--server", options.ServerLine) &&
                   !TakeValue(argc, argv, i, "--now", options.Now) &&
                   !TakeValue(argc, argv, i, "--hosts", options.HostsFile) &&
                   !TakeValue(argc, argv, i, "--top", options.Top) &&
                   !TakeValue(argc, argv, i, "--format", options.Format)) {
            throw UsageError("unknown option " + std::string(arg));
        }
    }
    if (options.Top) {
        const std::optional<std::int32_t> rows = ParseInt32(*options.Top);
        if (!rows || *rows < 0) {
            throw UsageError("--top wants a number of rows, not '" + *options.Top + "'");
        }
        options.TopRows = static_cast<std::size_t>(*rows);
        options.Summary = true;
        options.Panels = true;
    }
    if (options.Format && *options.Format != "text") {
        if (*options.Format != "json") {
            throw UsageError("--format wants text or json, not '" + *options.Format + "'");
        }
        if (!options.Summary) {
            throw UsageError("--format json prints the summary: add --summary or --top");
        }
        options.Json = true;
        options.Panels = true;
    }
    return options;
}

// Exactly "YYYY-MM-DD HH:MM:SS" with a valid date and time.
std::optional<DateTime> ParseNow(std::string_view text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':') {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t length) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return std::nullopt;
            }
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const auto year = number(0, 4);
    const auto month = number(5, 2);
    const auto day = number(8, 2);
    const auto hour = number(11, 2);
    const auto minute = number(14, 2);
    const auto second = number(17, 2);
    if (!year || !month || !day || !hour || !minute || !second) {
        return std::nullopt;
    }
    return EncodeDateTime(*year, *month, *day, *hour, *minute, *second);
}

// The --hosts table: addresses folded to lower case, as the look-up cache compares them.
HostNameResolver HostsResolver(const std::string& file) {
    const auto lines = ReadDefinitionLines(file);
    if (!lines) {
        throw std::runtime_error("cannot open " + file);
    }
    auto names = std::make_shared<std::unordered_map<std::string, std::string>>();
    for (const std::string& line : *lines) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string_view> tokens;
        if (ExtractStrings(';', line, tokens) >= 2) {
            names->emplace(AsciiLowerCase(tokens[0]), std::string(tokens[1]));
        }
    }
    return [names](std::string_view address) -> std::optional<std::string> {
        const auto found = names->find(AsciiLowerCase(address));
        if (found == names->end()) {
            return std::nullopt;
        }
        return found->second;
    };
}

class Output {
public:
    ~Output() { Flush(); }
    void Line(std::string_view text) {
        Buffer_ += text;
        Buffer_ += '\n';
        if (Buffer_.size() >= (1u << 20)) {
            Flush();
        }
    }
    void Flush() {
        if (!Buffer_.empty()) {
            std::fwrite(Buffer_.data(), 1, Buffer_.size(), stdout);
            Buffer_.clear();
        }
        std::fflush(stdout);
    }

private:
    std::string Buffer_;
};

// What the program's end does to the lists, in its order.
void SaveLists(Workspace& space) {
    SaveNameListFile(space.DefinitionFile(".documents"), space.Documents().Items());
    SaveNameListFile(space.DefinitionFile(".buddies"), space.Buddies().Items());
    SaveSpiders(space.DefinitionFile(".spiders"), space.Spiders());
    if (space.Revisitors().Loaded())
        SaveRevisitors(space.DefinitionFile(".revisitors"), space.Revisitors());
}

// Removes the process-wide state that a run installed, also when it fails part-way; it goes
// before the clock it refers to.
class RunScope {
public:
    ~RunScope() {
        if (ClockInstalled) {
            platform::SetCurrentClock(nullptr);
        }
        if (LocaleInstalled) {
            platform::SetCurrentLocaleFormat(nullptr);
        }
    }
    bool ClockInstalled = false;
    bool LocaleInstalled = false;
};

int Run(const ParseOptions& options) {
    std::optional<platform::ManualClock> clock;
    std::unique_ptr<SettingsStore> optionsStore;
    std::optional<platform::SystemLocaleFormat> localeFormat;
    RunScope scope;
    Workspace space(platform::Paths::HomeDir());
    auto madeGrep = EntryGrep::Make(options.Grep);
    if (const auto* error = std::get_if<std::string>(&madeGrep)) {
        throw UsageError(*error);
    }
    EntryGrep& grep = std::get<EntryGrep>(madeGrep);
    grep.Bind(space.Spiders());
    if (grep.Active()) {
        // The pattern sees the times as the window shows them, in the user's locale.
        std::setlocale(LC_ALL, "");
        std::setlocale(LC_NUMERIC, "C");
        localeFormat.emplace();
        platform::SetCurrentLocaleFormat(&*localeFormat);
        scope.LocaleInstalled = true;
    }
    if (options.Now) {
        const auto now = ParseNow(*options.Now);
        if (!now) {
            throw UsageError("--now wants 'YYYY-MM-DD HH:MM:SS', not '" + *options.Now + "'");
        }
        clock.emplace(*now);
        platform::SetCurrentClock(&*clock);
        scope.ClockInstalled = true;
    }

    optionsStore = CreateOptionsStore(space.DefinitionFile(".config"));
    space.SetOptions(optionsStore.get());
    if (options.HostsFile) {
        space.Names().SetResolver(HostsResolver(*options.HostsFile));
    }

    space.Documents().Assign(LoadNameListFile(space.DefinitionFile(".documents")));
    space.Buddies().Assign(LoadNameListFile(space.DefinitionFile(".buddies")));
    LoadSpiders(space.DefinitionFile(".spiders"), space.Spiders());
    const RevisitorLoad revisitors = LoadRevisitors(space.DefinitionFile(".revisitors"), space.Revisitors());
    if (revisitors.FirstMalformedLine) {
        PrintMessage(stderr, "kavel-cli: " + space.DefinitionFile(".revisitors").string() + ": " +
                                 std::to_string(revisitors.Malformed) +
                                 " malformed line(s) skipped, the first is line " +
                                 std::to_string(*revisitors.FirstMalformedLine));
    }

    std::unique_ptr<Server> server;
    if (options.ServerLine) {
        server = LineToServer(*options.ServerLine, space.Options());
        if (!server) {
            throw UsageError("--server: not a servers-file line: " + *options.ServerLine);
        }
    } else {
        server = std::make_unique<Server>(space.Options());
    }
    // The queue refers to the server: it is emptied before the server goes.
    struct QueueGuard {
        EntryQueue& Queue;
        ~QueueGuard() { Queue.Clear(); }
    } queueGuard{space.Entries()};

    Counts counts;
    AccessSummary summary(space.Spiders());
    Output output;
    const EntrySettings settings = EntrySettings::Of(space);
    const auto queueEntry = [&](std::unique_ptr<LogEntry> entry) {
        if (!entry) {
            if (!options.Summary && !grep.Active()) {
                output.Line(DroppedLine);
            }
            return;
        }
        const LogEntry* queued = space.Entries().Append(std::move(entry));
        if (!grep.Matches(*queued)) {
            return;
        }
        const LinePin pin(*queued);
        // Lines printed say what fired; a summary only counts it.
        const SuspicionCheck check = options.Summary ? CheckSuspiciousCode(queued->Access(), space.Spiders())
                                                     : CheckSuspicious(queued->Access(), space.Spiders());
        const AccessRecord& access = *queued->Access();
        ++counts.Accepted;
        counts.Documents += access.IsDocument ? 1 : 0;
        counts.Spiders += access.IsSpider ? 1 : 0;
        counts.Revisitors += access.IsDocument && access.VisitorState == VisitorKind::Revisitor ? 1 : 0;
        counts.Exceptions += check.Code != suspicion_code::None ? 1 : 0;
        if (options.Panels) {
            summary.Add(*queued);
        }
        if (!options.Summary) {
            output.Line(FormatEntryLine(*queued, check));
        }
    };
    // Without names to wait for, lines are parsed on a second thread while this one queues and
    // prints them in their order.
    std::optional<EntryPipeline> pipeline;
    if (!settings.ResolveNames) {
        pipeline.emplace(*server, settings);
    }
    const EntryPipeline::Deliver deliver = [&](EntryPipeline::Made& made) {
        if (!made.Error.empty()) {
            throw std::runtime_error(made.Error);
        }
        queueEntry(std::move(made.Entry));
    };
    const auto onLine = [&](std::string_view line) {
        ++counts.LinesRead;
        if (pipeline) {
            pipeline->Take(line, 0, deliver);
        } else {
            queueEntry(MakeEntry(line, *server, settings));
        }
    };
    const auto endOfFile = [&] {
        if (pipeline) {
            pipeline->Flush(deliver);
        }
    };

    int status = 0;
    const std::vector<std::string> stdinOnly = {"-"};
    for (const std::string& file : options.Files.empty() ? stdinOnly : options.Files) {
        if (file == "-") {
            const bool read = ReadLines(stdin, onLine);
            endOfFile();
            if (!read) {
                std::fprintf(stderr, "kavel-cli: error reading standard input\n");
                status = 1;
            }
            continue;
        }
        std::FILE* stream = std::fopen(file.c_str(), "rb");
        if (stream == nullptr) {
            PrintMessage(stderr, "kavel-cli: cannot open " + file + ": " + std::strerror(errno));
            status = 1;
            continue;
        }
        const bool read = ReadLines(stream, onLine);
        std::fclose(stream);
        endOfFile();
        if (!read) {
            PrintMessage(stderr, "kavel-cli: error reading " + file);
            status = 1;
        }
    }

    if (options.Summary) {
        const NamedCount lines[] = {
            {"lines read", counts.LinesRead},  {"accepted", counts.Accepted},
            {"documents", counts.Documents},   {"spiders", counts.Spiders},
            {"revisitors", counts.Revisitors}, {"exceptions", counts.Exceptions},
        };
        std::string text = options.Json ? FormatSummaryJson(lines, summary, options.TopRows)
                                        : FormatSummaryText(lines, summary, options.TopRows, options.Panels);
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        output.Line(text);
    }
    output.Flush();

    if (options.Save) {
        try {
            SaveLists(space);
            optionsStore->Save();
        } catch (const std::exception& error) {
            PrintMessage(stderr, std::string("kavel-cli: cannot write the lists: ") + error.what());
            status = 1;
        }
    }
    return status;
}

} // namespace

void LineSplitter::Feed(std::string_view block, const OnLine& onLine) {
    while (!block.empty()) {
        const std::size_t end = block.find('\n');
        if (end == std::string_view::npos) {
            Pending_.append(block);
            return;
        }
        std::string_view line = block.substr(0, end);
        block.remove_prefix(end + 1);
        if (!Pending_.empty()) {
            Pending_.append(line);
            line = Pending_;
        }
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        onLine(line);
        Pending_.clear();
    }
}

void LineSplitter::Finish(const OnLine& onLine) {
    if (!Pending_.empty()) {
        const std::string line = std::move(Pending_);
        Pending_.clear();
        onLine(line);
    }
}

bool ReadLines(std::FILE* stream, const LineSplitter::OnLine& onLine) {
    LineSplitter splitter;
    std::vector<char> block(1u << 20);
    while (true) {
        const std::size_t read = std::fread(block.data(), 1, block.size(), stream);
        splitter.Feed(std::string_view(block.data(), read), onLine);
        if (read < block.size()) {
            break;
        }
    }
    splitter.Finish(onLine);
    return std::ferror(stream) == 0;
}

int RunParse(int argc, char** argv) {
    try {
        const ParseOptions options = ReadOptions(argc, argv);
        if (options.Help) {
            std::fputs((std::string(ParseHelpStart) + GrepHelp(18) + std::string(ParseHelpEnd)).c_str(),
                       stdout);
            return 0;
        }
        return Run(options);
    } catch (const UsageError& error) {
        PrintMessage(stderr, std::string("kavel-cli parse: ") + error.what());
        std::fputs("Try 'kavel-cli parse --help'.\n", stderr);
        return 2;
    } catch (const std::exception& error) {
        PrintMessage(stderr, std::string("kavel-cli parse: ") + error.what());
        return 1;
    }
}

} // namespace kavel::cli
