#include "acquisition/ReaderRegistry.h"
#include "support/RecorderSupport.h"
#include "support/TempFolder.h"

#include <chrono>
#include <csignal>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using kavel::test::ReadBytes;
using kavel::test::TempFolder;

// What the watcher prints while it stops the named server's reader.
std::string Stopping(std::string_view serverName) {
    return std::string(kavel::StoppingReaderStatusHead) + std::string(serverName) +
           std::string(kavel::StoppingReaderStatusTail);
}
using kavel::test::WriteBytes;

struct WatchRun {
    int Status = -1;
    std::vector<std::string> Lines;
    std::string Err;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs "kavel-cli watch" with the arguments until it ends by itself.
WatchRun RunWatch(const TempFolder& scratch, const std::string& args) {
    std::string command =
        Quote(KAVEL_CLI_PATH) + " watch " + args + " 2>" + Quote((scratch / "stderr").string());
    WatchRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        run.Lines.push_back(line);
    run.Err = ReadBytes(scratch / "stderr");
    return run;
}

// Runs "kavel-cli watch" and sends SIGTERM once its standard error holds text, so the signal
// arrives while the readers run, whatever the machine's speed; beforeStop runs just before.
WatchRun RunWatchUntilStderr(const TempFolder& scratch, const std::string& args, const std::string& text,
                             const std::function<void()>& beforeStop = {}) {
    const std::filesystem::path errFile = scratch / "stderr";
    const std::string command =
        "exec " + Quote(KAVEL_CLI_PATH) + " watch " + args + " 2>" + Quote(errFile.string());
    WatchRun run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadBytes(errFile).find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (beforeStop)
        beforeStop();
    kill(pid, SIGTERM);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        run.Lines.push_back(line);
    run.Err = ReadBytes(errFile);
    return run;
}

std::string NcsaNow(const std::string& address, const std::string& request, int status,
                    const std::string& agent = "Mozilla/5.0") {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S +0000", &local);
    return address + " - - [" + stamp + "] \"" + request + "\" " + std::to_string(status) + " 100 \"-\" \"" +
           agent + "\"\n";
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

TEST(WatchCommand, PrintsTheAccessesOfEveryServerAndWritesTheFilesBack) {
    TempFolder home;
    TempFolder scratch;
    WriteBytes(home / "access.log", NcsaNow("10.1.1.1", "GET /index.html HTTP/1.1", 200) +
                                        "not a log line\n" +
                                        NcsaNow("10.1.1.2", "GET /missing.html HTTP/1.1", 404));
    WriteBytes(home / "kavel.servers",
               "web;" + (home / "access.log").string() + ";1;500;0;0;0;-1;10;0;0;0\r\n");
    WriteBytes(home / "kavel.documents", ".html\r\n");
    WriteBytes(home / "kavel.config", "[Options]\r\nMiscDnsResolve=0\r\n");

    // Ends once both accesses are printed; --for only keeps a broken run from hanging.
    const WatchRun run = RunWatch(scratch, "--home " + Quote(home.Path().string()) + " --count 2 --for 120");
    ASSERT_EQ(run.Status, 0) << run.Err;

    ASSERT_EQ(run.Lines.size(), 3u) << run.Err;
    const auto first = Fields(run.Lines[0]);
    EXPECT_EQ(first[0], "web");
    EXPECT_EQ(first[3], "10.1.1.1");
    EXPECT_EQ(first[8], "/index.html");
    const auto second = Fields(run.Lines[1]);
    EXPECT_EQ(second[3], "10.1.1.2");
    EXPECT_EQ(second[9], "404");
    // The suspicious-request row follows its access.
    const auto exception = Fields(run.Lines[2]);
    ASSERT_EQ(exception.size(), 5u);
    EXPECT_EQ(exception[0], "!");
    EXPECT_EQ(exception[1], "404");
    EXPECT_EQ(exception[2], "web");
    EXPECT_EQ(exception[4], "Not Found 404 Fehler auf Seite /missing.html");

    EXPECT_NE(run.Err.find(Stopping("web")), std::string::npos);
    const std::string servers = ReadBytes(home / "kavel.servers");
    EXPECT_EQ(servers.rfind("# Servers Definition File\r\n", 0), 0u);
    EXPECT_NE(servers.find("\r\nweb;"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(home / "kavel.revisitors"));
}

TEST(WatchCommand, SigtermStopsTheReadersAndEndsCleanly) {
    TempFolder home;
    TempFolder scratch;
    WriteBytes(home / "kavel.servers", "gone;" + (home / "missing.log").string() + "\r\n");

    const WatchRun run =
        RunWatchUntilStderr(scratch, "--home " + Quote(home.Path().string()), "Protokolldatei fehlt");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(run.Lines.empty());
    EXPECT_NE(run.Err.find("gone: Protokolldatei fehlt"), std::string::npos) << run.Err;
    EXPECT_NE(ReadBytes(home / "kavel.servers").find("\r\ngone;"), std::string::npos);
}

TEST(WatchCommand, DemoShowsLiveTrafficOfBothServers) {
    TempFolder home;
    TempFolder scratch;
    const WatchRun run = RunWatch(scratch, "--demo --quiet-popups --home " + Quote(home.Path().string()) +
                                               " --count 60 --for 120");
    ASSERT_EQ(run.Status, 0) << run.Err;

    std::size_t ncsa = 0;
    std::size_t w3c = 0;
    std::size_t exceptions = 0;
    for (const std::string& line : run.Lines) {
        const auto fields = Fields(line);
        if (fields[0] == "!") {
            ++exceptions;
            continue;
        }
        // Every generated line is accepted: no dropped-line marker in the watch output.
        ASSERT_GT(fields.size(), 20u) << line;
        if (fields[0] == "www.demo.example")
            ++ncsa;
        else if (fields[0] == "shop.demo.example")
            ++w3c;
    }
    // An hour of history for each server, and at least one suspicious request in it.
    EXPECT_GE(ncsa, 60u);
    EXPECT_GE(w3c, 60u);
    EXPECT_GE(exceptions, 1u);

    // Every line the generator wrote parses: none is dropped by its server's parser.
    std::istringstream servers(ReadBytes(home / "kavel.servers"));
    for (std::string line; std::getline(servers, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line.back() == '\r')
            line.pop_back();
        const bool isW3C = line.rfind("shop.", 0) == 0;
        std::filesystem::path log;
        for (const auto& entry : std::filesystem::directory_iterator(home.Path()))
            if (entry.path().extension() == ".log" &&
                (entry.path().filename().string().rfind("ex", 0) == 0) == isW3C)
                log = entry.path();
        ASSERT_FALSE(log.empty());
        const std::string command = Quote(KAVEL_CLI_PATH) + " parse --home " + Quote(home.Path().string()) +
                                    " --server " + Quote(line) + " " + Quote(log.string());
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        ASSERT_EQ(pclose(pipe), 0);
        const std::string logText = ReadBytes(log);
        std::size_t directives = 0;
        for (std::size_t pos = 0; pos < logText.size(); pos = logText.find('\n', pos) + 1) {
            if (logText[pos] == '#')
                ++directives;
            if (logText.find('\n', pos) == std::string::npos)
                break;
        }
        std::size_t dropped = 0;
        std::istringstream parsed(out);
        for (std::string row; std::getline(parsed, row);)
            dropped += row == "-" ? 1u : 0u;
        EXPECT_EQ(dropped, directives) << log;
    }
}

// Whether text is well-formed UTF-8 without any control byte: what a JSON reader and a terminal
// may safely get.
bool IsCleanUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        std::size_t length = byte < 0x80                    ? 1
                             : byte >= 0xc2 && byte <= 0xdf ? 2
                             : byte >= 0xe0 && byte <= 0xef ? 3
                             : byte >= 0xf0 && byte <= 0xf4 ? 4
                                                            : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// A log line with controls, an escape sequence, a backslash, a quote, bytes that are not UTF-8 and a
// direction control must come out of every format without reaching the reader raw, and with nothing lost.
TEST(WatchCommand, EveryFormatKeepsHostileBytesHarmless) {
    TempFolder home;
    WriteBytes(home / "access.log", NcsaNow("10.1.1.1",
                                            "GET /a\x01"
                                            "b\xff\xc3\xa4\x1b[2J\\q\xe2\x80\xae HTTP/1.1",
                                            404, "Mo\\\"z") +
                                        NcsaNow("10.1.1.2", "GET /index.html HTTP/1.1", 200));
    WriteBytes(home / "kavel.servers",
               "web;" + (home / "access.log").string() + ";1;500;0;0;0;-1;10;0;0;0\r\n");
    WriteBytes(home / "kavel.config", "[Options]\r\nMiscDnsResolve=0\r\n");
    const std::string args = "--home " + Quote(home.Path().string()) + " --count 2 --for 60 --format ";

    const struct {
        const char* Format;
        std::size_t Lines;
        std::vector<std::string> Expected;
    } cases[] = {
        {"json",
         2,
         {R"("page":"/a\u0001b\u00ffä\u001b[2J\\q\u202e")", R"("status":404)", R"("suspicion":{"code":404,)",
          R"("suspicion":null)", R"({"server":"web","time":")", R"(\"z","document")"}},
        {"table",
         3,
         {"  web           10.1.1.1 ", "  404  /a\\x01b\\xffä\\x1b[2J\\\\q\\xe2\\x80\\xae\n",
          "    ! Not Found 404"}},
        {"tsv", 3, {"\t/a\\x01b\xff\xc3\xa4\\x1b[2J\\\\q\\xe2\\x80\\xae\t404\t", "!\t404\tweb\t"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Format);
        TempFolder scratch;
        const WatchRun run = RunWatch(scratch, args + c.Format);
        ASSERT_EQ(run.Status, 0) << run.Err;
        ASSERT_EQ(run.Lines.size(), c.Lines) << run.Err;
        std::string all;
        for (const auto& line : run.Lines)
            all += line + "\n";
        for (const auto& expected : c.Expected)
            EXPECT_NE(all.find(expected), std::string::npos) << expected << "\n" << all;
        if (std::string_view(c.Format) != "tsv") {
            for (const auto& line : run.Lines)
                EXPECT_TRUE(IsCleanUtf8(line)) << line;
        }
    }
}

// Direction controls reorder what a terminal shows around them (a page that reads harmless while
// it is not); on a terminal they are escaped like control bytes, in the table and in every
// message, as are the bytes of a server name that is not UTF-8. Their neighbours pass.
TEST(WatchCommand, TerminalTextsEscapeDirectionControlsAndBytesThatAreNotUtf8) {
    const struct {
        const char* Name;
        std::string Bytes;
        bool Escaped;
    } characters[] = {
        {"ALM U+061C", "\xd8\x9c", true},        {"ARABIC SIGN U+061B", "\xd8\x9b", false},
        {"ZWJ U+200D", "\xe2\x80\x8d", false},   {"LRM U+200E", "\xe2\x80\x8e", true},
        {"RLM U+200F", "\xe2\x80\x8f", true},    {"PARAGRAPH SEPARATOR U+2029", "\xe2\x80\xa9", false},
        {"LRE U+202A", "\xe2\x80\xaa", true},    {"RLO U+202E", "\xe2\x80\xae", true},
        {"NNBSP U+202F", "\xe2\x80\xaf", false}, {"U+2065", "\xe2\x81\xa5", false},
        {"LRI U+2066", "\xe2\x81\xa6", true},    {"PDI U+2069", "\xe2\x81\xa9", true},
        {"U+206A", "\xe2\x81\xaa", false},
    };
    std::string page = "/x";
    for (const auto& c : characters)
        page += c.Bytes + "-";
    TempFolder home;
    TempFolder scratch;
    WriteBytes(home / "access.log", NcsaNow("10.1.1.1", "GET " + page + " HTTP/1.1", 200));
    const std::string server = "M\xfcller\xe2\x80\xae";
    WriteBytes(home / "kavel.servers",
               server + ";" + (home / "access.log").string() + ";1;500;0;0;0;-1;10;0;0;0\r\n");
    WriteBytes(home / "kavel.config", "[Options]\r\nMiscDnsResolve=0\r\n");

    const WatchRun run =
        RunWatch(scratch, "--home " + Quote(home.Path().string()) + " --count 1 --for 60 --format table");
    ASSERT_EQ(run.Status, 0) << run.Err;
    ASSERT_EQ(run.Lines.size(), 1u) << run.Err;
    for (const auto& c : characters) {
        SCOPED_TRACE(c.Name);
        std::string escaped;
        for (const char byte : c.Bytes) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(byte));
            escaped += hex;
        }
        const std::string& shown = c.Escaped ? escaped : c.Bytes;
        const std::string& hidden = c.Escaped ? c.Bytes : escaped;
        EXPECT_NE(run.Lines[0].find(shown + "-"), std::string::npos) << run.Lines[0];
        EXPECT_EQ(run.Lines[0].find(hidden), std::string::npos) << run.Lines[0];
    }
    EXPECT_NE(run.Err.find(Stopping("M\\xfcller\\xe2\\x80\\xae")), std::string::npos) << run.Err;
    EXPECT_TRUE(IsCleanUtf8(run.Lines[0]));
    std::istringstream messages(run.Err);
    for (std::string line; std::getline(messages, line);)
        EXPECT_EQ(line.find("\xe2\x80\xae"), std::string::npos) << line;
}

// A save that failed at the end (a full disk, a read-only home; here a folder in the file's
// place, which also stops root) is reported and makes the status 1.
TEST(WatchCommand, AFileThatCouldNotBeWrittenGivesExitStatusOne) {
    for (const char* file : {"kavel.servers", "kavel.revisitors"}) {
        SCOPED_TRACE(file);
        TempFolder home;
        TempFolder scratch;
        WriteBytes(home / "kavel.servers", "gone;" + (home / "missing.log").string() + "\r\n");
        const WatchRun run = RunWatchUntilStderr(
            scratch, "--home " + Quote(home.Path().string()), "Protokolldatei fehlt", [&] {
                std::filesystem::remove(home / file);
                std::filesystem::create_directories(home / file / "in the way");
            });
        EXPECT_EQ(run.Status, 1) << run.Err;
        EXPECT_NE(run.Err.find(std::string("Fehler: ") + file + ": "), std::string::npos) << run.Err;
    }
}

// Runs "kavel-cli parse" with the arguments; its standard output.
std::string RunParse(const TempFolder& scratch, const std::string& args) {
    const std::string command =
        Quote(KAVEL_CLI_PATH) + " parse " + args + " 2>" + Quote((scratch / "parse-stderr").string());
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

// The two programs agree on what matches: watch prints the accesses that parse prints for the
// same lines and the same pattern.
TEST(WatchCommand, GrepFindsWhatParseFinds) {
    TempFolder home;
    std::filesystem::copy_file(std::filesystem::path(KAVEL_CORPUS_DIR) / "logfile_shop_access_log.0",
                               home / "access.log");
    const std::string server =
        "shop.example;" + (home / "access.log").string() + ";100000;500;0;0;0;-1;10;0;0;0";
    WriteBytes(home / "kavel.servers", server + "\r\n");
    WriteBytes(home / "kavel.config", "[Options]\r\nMiscDnsResolve=0\r\n");
    const struct {
        const char* Grep;
        std::size_t Matches;
    } cases[] = {
        {"--grep AhrefsBot", 45},
        {"--grep ahrefsbot --ignore-case", 45},
        {"--grep '^/image/[0-9]+/productModel' --regex", 228},
        {"--grep 'Not Found'", 24},
        {"--regex --grep '(a+)+$'", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Grep);
        TempFolder scratch;
        const std::string parsed =
            RunParse(scratch, "--home " + Quote(home.Path().string()) + " --server " + Quote(server) +
                                  " --now '2024-01-01 00:00:00' " + c.Grep + " " +
                                  Quote((home / "access.log").string()));
        std::vector<std::string> expected;
        std::istringstream parsedLines(parsed);
        for (std::string line; std::getline(parsedLines, line);)
            expected.push_back("shop.example\t" + line);
        ASSERT_EQ(expected.size(), c.Matches);

        const WatchRun run =
            RunWatch(scratch, "--home " + Quote(home.Path().string()) + " --format tsv --count " +
                                  std::to_string(c.Matches) + " --for 120 " + c.Grep);
        ASSERT_EQ(run.Status, 0) << run.Err;
        std::vector<std::string> printed;
        for (const std::string& line : run.Lines)
            if (line.rfind("!\t", 0) != 0)
                printed.push_back(line);
        EXPECT_EQ(printed, expected);
    }
}

TEST(WatchCommand, GrepPatternThatIsNoneIsAUsageError) {
    const struct {
        const char* Args;
        const char* Message;
    } cases[] = {
        {"--grep '(' --regex", "kavel-cli watch: --grep: missing ): ("},
        {"--grep", "--grep needs a pattern"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args);
        TempFolder scratch;
        const WatchRun run = RunWatch(scratch, c.Args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_TRUE(run.Lines.empty());
        EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    }
}

TEST(WatchCommand, RejectsUnknownArguments) {
    const struct {
        const char* Args;
        const char* Message;
    } cases[] = {
        {"--bogus", "Usage: kavel-cli watch"},
        {"--format xml", "--format needs table, tsv or json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args);
        TempFolder scratch;
        const WatchRun run = RunWatch(scratch, c.Args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    }
}

TEST(WatchCommand, AFileThatCouldNotBeReadGivesExitStatusOne) {
    const struct {
        const char* Unreadable;
        int Status;
    } cases[] = {{nullptr, 0}, {"kavel.documents", 1}, {"kavel.servers", 1}, {"kavel.config", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Unreadable ? c.Unreadable : "none");
        TempFolder scratch;
        TempFolder home;
        // A folder in place of the file: it exists but cannot be read, also for root.
        if (c.Unreadable)
            std::filesystem::create_directory(home / c.Unreadable);
        const WatchRun run = RunWatch(scratch, "--home " + Quote(home.Path().string()) + " --for 0");
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        if (c.Unreadable) {
            EXPECT_NE(run.Err.find(std::string("Fehler: ") + c.Unreadable), std::string::npos) << run.Err;
            EXPECT_TRUE(std::filesystem::is_directory(home / c.Unreadable)) << "never written over";
        }
    }
}

TEST(WatchCommand, UnreadableServerLinesAreReportedButNoFailure) {
    TempFolder scratch;
    TempFolder home;
    WriteBytes(home / "kavel.servers", "Five;e;1;2;0\r\n");
    const WatchRun run = RunWatch(scratch, "--home " + Quote(home.Path().string()) + " --for 0");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Err.find("Fehler: kavel.servers: 1 unreadable line(s) kept unchanged"), std::string::npos)
        << run.Err;
    EXPECT_NE(ReadBytes(home / "kavel.servers").find("\r\nFive;e;1;2;0\r\n"), std::string::npos);
}

// A watcher running in the background, its standard error in a file, until it is stopped.
class BackgroundWatch {
public:
    BackgroundWatch(const TempFolder& scratch, const std::string& args)
        : ErrFile_(scratch / "stderr") {
        const std::string command = "exec " + Quote(KAVEL_CLI_PATH) + " watch " + args + " >" +
                                    Quote((scratch / "stdout").string()) + " 2>" + Quote(ErrFile_.string());
        Pid_ = fork();
        if (Pid_ == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~BackgroundWatch() {
        if (Pid_ > 0)
            Stop();
    }
    bool WaitForStderr(const std::string& text) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (ReadBytes(ErrFile_).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // SIGTERM, then the exit status.
    int Stop() {
        kill(Pid_, SIGTERM);
        int status = 0;
        waitpid(Pid_, &status, 0);
        Pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Err() const { return ReadBytes(ErrFile_); }

private:
    std::filesystem::path ErrFile_;
    pid_t Pid_ = -1;
};

// The rules of kavel.alerts as the window checks them: accesses that arrive after the reader's
// first pass raise the alert, which is printed on standard error (a line, or a JSON object)
// and runs its command with the alert's values; the file stays as it was.
TEST(WatchCommand, AlertsArePrintedAndTheirCommandsRun) {
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "json" : "text");
        TempFolder home;
        TempFolder scratch;
        const std::filesystem::path log = home / "access.log";
        WriteBytes(home / "kavel.servers", "web;" + log.string() + ";1;500;0;0;0;-1;10;0;0;0\r\n");
        const std::filesystem::path out = scratch / "call";
        const std::string rules = "Fehler;*;status:5xx;2;5;10;1;notify,run;\"" +
                                  std::string(KAVEL_RECORDER_PATH) + "\" record \"" + out.string() +
                                  "\" {rule} {server} {count} {page}\r\nkaputt\r\n";
        WriteBytes(home / "kavel.alerts", rules);

        BackgroundWatch watch(scratch,
                              "--home " + Quote(home.Path().string()) + (json ? " --format json" : ""));
        // The log appears after the first look at it: what it holds is news.
        ASSERT_TRUE(watch.WaitForStderr("Protokolldatei fehlt")) << watch.Err();
        WriteBytes(log, NcsaNow("192.0.2.1", "GET /a HTTP/1.1", 500) +
                            NcsaNow("192.0.2.2", "GET /$(touch%20x);`id` HTTP/1.1", 503));
        ASSERT_TRUE(watch.WaitForStderr(json ? "\"type\":\"alert_command\"" : "Alarm-Befehl")) << watch.Err();
        EXPECT_EQ(watch.Stop(), 0);
        const std::string err = watch.Err();
        EXPECT_NE(err.find("Fehler: kavel.alerts: 1 unreadable line(s) kept unchanged, the first is line 2"),
                  std::string::npos)
            << err;
        if (json) {
            EXPECT_NE(
                err.find("{\"type\":\"alert\",\"id\":1,\"rule\":\"Fehler\",\"server\":\"web\","
                         "\"condition\":\"status:5xx\",\"threshold\":2,\"window_minutes\":5,\"count\":2,"),
                std::string::npos)
                << err;
            EXPECT_NE(err.find("\"page\":\"/$(touch%20x);`id`\",\"status\":503},\"actions\":\"notify,run\","
                               "\"command\":\"gestartet\",\"test\":false}"),
                      std::string::npos)
                << err;
            EXPECT_NE(err.find("\"result\":\"Exit-Status 0\",\"exit_code\":0,\"output\":[]}"),
                      std::string::npos)
                << err;
        } else {
            EXPECT_NE(
                err.find("Alarm Fehler auf web: 2 Zugriffe mit Status 5xx in 5 Minuten; Neuester Zugriff: "),
                std::string::npos)
                << err;
            EXPECT_NE(err.find(" 192.0.2.2 GET /$(touch%20x);`id` 503 [Befehl gestartet]\n"),
                      std::string::npos)
                << err;
            EXPECT_NE(err.find("Alarm-Befehl Fehler auf web: Exit-Status 0\n"), std::string::npos) << err;
        }
        const auto call = kavel::test::ReadRecordedCall(out);
        ASSERT_TRUE(call);
        EXPECT_EQ(call->Arguments, (std::vector<std::string>{"Fehler", "web", "2", "/$(touch%20x);`id`"}));
        EXPECT_EQ(call->Environment.at("KAVEL_STATUS"), "503");
        EXPECT_EQ(ReadBytes(home / "kavel.alerts"), rules);
    }
}

} // namespace
