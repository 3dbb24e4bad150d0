#include "DemoTraffic.h"

#include "acquisition/Server.h"
#include "base/DefinitionFile.h"
#include "platform/Clock.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace kavel::cli {

namespace {

constexpr std::array<const char*, 12> MonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Visitor {
    const char* Address;
    const char* Agent;
};

// Documentation address ranges only, so the demo never names a real host.
constexpr std::array<Visitor, 10> Visitors = {{
    {"192.0.2.10", "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0"},
    {"192.0.2.23", "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
                   "Chrome/131.0 Safari/537.36"},
    {"192.0.2.47", "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_5) AppleWebKit/605.1.15 (KHTML, like Gecko) "
                   "Version/17.5 Safari/605.1.15"},
    {"198.51.100.5", "Opera/9.80 (Windows NT 6.1) Presto/2.12.388 Version/12.16"},
    {"198.51.100.61", "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)"},
    {"198.51.100.99", "Mozilla/5.0 (Android 14; Mobile; rv:128.0) Gecko/128.0 Firefox/128.0"},
    {"203.0.113.8", "Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) AppleWebKit/605.1.15 "
                    "(KHTML, like Gecko) Version/17.5 Mobile/15E148 Safari/604.1"},
    {"203.0.113.42", "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/130.0 "
                     "Safari/537.36"},
    {"203.0.113.77", "Lynx/2.9.0 libwww-FM/2.14"},
    {"203.0.113.200", "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:127.0) Gecko/20100101 Firefox/127.0"},
}};

constexpr std::array<Visitor, 3> Spiders = {{
    {"198.51.100.200", "Mozilla/5.0 (compatible; ExampleBot/2.1; +http://search.example/bot.html)"},
    {"198.51.100.201", "Mozilla/5.0 (compatible; ExampleBot/2.1; +http://search.example/bot.html)"},
    {"203.0.113.250", "NewCrawler/0.3 (+http://crawler.example/)"},
}};

constexpr std::array<const char*, 9> Pages = {"/",
                                              "/index.html",
                                              "/news/2026/kavel-released.html",
                                              "/products/",
                                              "/products/watcher.php?id=7",
                                              "/contact.html",
                                              "/blog/why-logs-matter.html",
                                              "/download.html",
                                              "/about/team.htm"};

constexpr std::array<const char*, 5> Elements = {"/css/site.css", "/js/app.js", "/img/logo.png",
                                                 "/img/header.jpg", "/favicon.ico"};

constexpr std::array<const char*, 4> Referers = {"-", "http://search.example/?q=live+log+monitor",
                                                 "http://news.example/links.html",
                                                 "http://forum.example/t/42"};

std::string TwoDigit(int v) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", v);
    return buffer;
}

std::string NcsaTime(DateTime t) {
    const DateParts p = DecodeDateTime(t);
    return TwoDigit(p.Day) + "/" + MonthNames[static_cast<std::size_t>(p.Month - 1)] + "/" +
           std::to_string(p.Year) + ":" + TwoDigit(p.Hour) + ":" + TwoDigit(p.Minute) + ":" +
           TwoDigit(p.Second) + " +0000";
}

struct DemoRequest {
    DateTime Time;
    std::string Address;
    std::string Agent;
    std::string Method = "GET";
    std::string Page;
    int Status = 200;
    int Bytes = 0;
    std::string Referer = "-";
};

DemoRequest MakeRequest(DateTime time, std::string address, std::string agent) {
    DemoRequest request;
    request.Time = time;
    request.Address = std::move(address);
    request.Agent = std::move(agent);
    return request;
}

std::string NcsaLine(const DemoRequest& r) {
    return r.Address + " - - [" + NcsaTime(r.Time) + "] \"" + r.Method + " " + r.Page + " HTTP/1.1\" " +
           std::to_string(r.Status) + " " + (r.Bytes > 0 ? std::to_string(r.Bytes) : std::string("-")) +
           " \"" + r.Referer + "\" \"" + r.Agent + "\"";
}

// Fields: date time c-ip cs-username s-ip s-port cs-method cs-uri-stem cs-uri-query sc-status
// sc-bytes time-taken cs(User-Agent) cs(Referer).
constexpr std::uint32_t DemoW3cFields = (1u << 0) | (1u << 1) | (1u << 2) | (1u << 3) | (1u << 6) |
                                        (1u << 7) | (1u << 8) | (1u << 9) | (1u << 10) | (1u << 11) |
                                        (1u << 14) | (1u << 16) | (1u << 19) | (1u << 21);

std::string W3cLine(const DemoRequest& r, int timeTaken) {
    const DateParts p = DecodeDateTime(r.Time);
    std::string stem = r.Page;
    std::string query = "-";
    if (const auto q = stem.find('?'); q != std::string::npos) {
        query = stem.substr(q + 1);
        stem.resize(q);
    }
    std::string agent = r.Agent;
    for (char& c : agent)
        if (c == ' ')
            c = '+';
    return std::to_string(p.Year) + "-" + TwoDigit(p.Month) + "-" + TwoDigit(p.Day) + " " + TwoDigit(p.Hour) +
           ":" + TwoDigit(p.Minute) + ":" + TwoDigit(p.Second) + " " + r.Address + " - 192.0.2.1 80 " +
           r.Method + " " + stem + " " + query + " " + std::to_string(r.Status) + " " +
           std::to_string(r.Bytes) + " " + std::to_string(timeTaken) + " " + agent + " " + r.Referer;
}

void WriteText(const std::filesystem::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void AppendLines(const std::filesystem::path& file, const std::string& lines) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << lines;
    out.flush();
}

class Generator {
public:
    explicit Generator(std::mt19937& random)
        : Random_(random) {}

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(Random_); }

    // A few requests of one kind at time t.
    std::vector<DemoRequest> Burst(DateTime t) {
        std::vector<DemoRequest> burst;
        const int kind = Pick(100);
        if (kind < 60) {
            const Visitor& v = Visitors[static_cast<std::size_t>(Pick(static_cast<int>(Visitors.size())))];
            DemoRequest page = MakeRequest(t, v.Address, v.Agent);
            page.Page = Pages[static_cast<std::size_t>(Pick(static_cast<int>(Pages.size())))];
            page.Bytes = 2000 + Pick(30000);
            page.Referer = Referers[static_cast<std::size_t>(Pick(static_cast<int>(Referers.size())))];
            burst.push_back(page);
            const int elements = Pick(4);
            for (int i = 0; i < elements; ++i) {
                DemoRequest element = MakeRequest(t, v.Address, v.Agent);
                element.Page = Elements[static_cast<std::size_t>(Pick(static_cast<int>(Elements.size())))];
                element.Bytes = 300 + Pick(90000);
                element.Referer = "http://www.demo.example" + page.Page;
                if (Pick(6) == 0) {
                    element.Status = 304;
                    element.Bytes = 0;
                }
                burst.push_back(element);
            }
        } else if (kind < 75) {
            const Visitor& s = Spiders[static_cast<std::size_t>(Pick(static_cast<int>(Spiders.size())))];
            DemoRequest robots = MakeRequest(t, s.Address, s.Agent);
            robots.Page = Pick(2) == 0
                              ? "/robots.txt"
                              : Pages[static_cast<std::size_t>(Pick(static_cast<int>(Pages.size())))];
            robots.Bytes = 120 + Pick(20000);
            burst.push_back(robots);
        } else if (kind < 88) {
            const Visitor& v = Visitors[static_cast<std::size_t>(Pick(static_cast<int>(Visitors.size())))];
            DemoRequest missing = MakeRequest(t, v.Address, v.Agent);
            missing.Page = Pick(2) == 0 ? "/old/page.html" : "/img/missing.gif";
            missing.Status = 404;
            missing.Bytes = 512;
            burst.push_back(missing);
        } else if (kind < 93) {
            DemoRequest probe = MakeRequest(t, "203.0.113.66", "curl/8.5.0");
            probe.Page = Pick(2) == 0 ? "/cgi-bin/../../etc/passwd" : "/setup.exe";
            probe.Status = Pick(2) == 0 ? 400 : 200;
            probe.Bytes = 300;
            burst.push_back(probe);
        } else if (kind < 96) {
            DemoRequest put = MakeRequest(t, "203.0.113.66", "curl/8.5.0");
            put.Method = Pick(2) == 0 ? "PUT" : "DELETE";
            put.Page = "/upload/notes.txt";
            put.Status = Pick(2) == 0 ? 201 : 405;
            put.Bytes = 0;
            burst.push_back(put);
        } else {
            DemoRequest login = MakeRequest(t, "198.51.100.61", Visitors[4].Agent);
            login.Page = "/admin/";
            login.Status = 401;
            login.Bytes = 401;
            burst.push_back(login);
        }
        return burst;
    }

private:
    std::mt19937& Random_;
};

std::string Lines(const std::vector<DemoRequest>& burst, bool w3c, Generator& generator) {
    std::string text;
    for (const DemoRequest& r : burst) {
        text += w3c ? W3cLine(r, 10 + generator.Pick(400)) : NcsaLine(r);
        text += w3c ? "\r\n" : "\n";
    }
    return text;
}

void WriteDemoAlerts(const std::filesystem::path& home) {
    WriteFileAtomically(
        home / "kavel.alerts",
        DefinitionFileHeader("Alerts", true) +
            "\r\n# Name;Server;Condition;Threshold;WindowMinutes;CooldownMinutes;On;Actions;Command"
            "\r\nServerfehler;*;status:5xx;3;5;10;1;notify,beep,run;echo \"{rule} auf {server}: "
            "{count} Fehler, zuletzt {page}\"\r\nStille;www.demo.example;rate:below;1;2;10;1;"
            "notify;\r\n");
}

constexpr std::array<const char*, 4> ErrorPages = {"/shop/checkout.php", "/api/orders", "/search.php?q=kavel",
                                                   "/products/watcher.php?id=9"};

} // namespace

DemoHome CreateDemoHome(const std::filesystem::path& home) {
    std::filesystem::create_directories(home);
    DemoHome demo;
    demo.Home = home;
    demo.NcsaLog = home / "www-access.log";
    const std::string w3cTemplate = (home / "ex%YY%MM%DD.log").string();
    demo.W3cLog = ExpandLogFileName(w3cTemplate);

    const bool fresh = !std::filesystem::exists(home / "kavel.servers");
    if (fresh) {
        const std::string ncsa = "www.demo.example;" + demo.NcsaLog.string() + ";1;1000;0;0;0;-1;10;0;0;-1";
        const std::string w3c = "shop.demo.example;" + w3cTemplate + ";1;1000;1;" +
                                std::to_string(DemoW3cFields) + ";0;-1;10;0;0;0";
        WriteFileAtomically(home / "kavel.servers",
                            DefinitionFileHeader("Servers", true) + "\r\n" + ncsa + "\r\n" + w3c + "\r\n");
        WriteText(home / "kavel.documents",
                  ".html\r\n.htm\r\n.php\r\n.asp\r\n.aspx\r\n.shtml\r\n.pdf\r\n.txt\r\n");
        WriteText(home / "kavel.buddies", "192.0.2.23\r\n");
        WriteFileAtomically(home / "kavel.spiders",
                            DefinitionFileHeader("Spiders", false) +
                                "\r\n198.51.100.200;0\r\n198.51.100.201;0\r\n192.0.2.10;-1\r\n");
        // Resolution off: the demo's addresses have no names, and the demo must not wait for
        // the network. Revisitors after two minutes, so they show up while one watches.
        WriteText(home / "kavel.config", "[Options]\r\nTimeDeleteAfter=1\r\nTimeDeleteAfterUnit=0\r\n"
                                         "TimeRevisitorAfterMinutes=2\r\nTimeLogPollCycleInMs=1000\r\n"
                                         "MiscDnsResolve=0\r\n");
    }

    if (!std::filesystem::exists(home / "kavel.alerts"))
        WriteDemoAlerts(home);

    std::mt19937 random(12345);
    Generator generator(random);
    if (!std::filesystem::exists(demo.NcsaLog)) {
        std::string history;
        const DateTime now = platform::Now();
        for (int i = 60; i > 0; --i)
            history += Lines(generator.Burst(DateTime{now.Ms - i * MsPerMinute}), false, generator);
        AppendLines(demo.NcsaLog, history);
    }
    if (!std::filesystem::exists(demo.W3cLog)) {
        std::string history = "#Software: Demo Web Server 1.0\r\n#Version: 1.0\r\n"
                              "#Fields: date time c-ip cs-username s-ip s-port cs-method cs-uri-stem "
                              "cs-uri-query sc-status sc-bytes time-taken cs(User-Agent) cs(Referer)\r\n";
        const DateTime now = platform::Now();
        for (int i = 60; i > 0; --i)
            history += Lines(generator.Burst(DateTime{now.Ms - i * MsPerMinute}), true, generator);
        AppendLines(demo.W3cLog, history);
    }
    return demo;
}

DemoTraffic::DemoTraffic(DemoHome home, unsigned seed)
    : Home_(std::move(home))
    , Random_(seed) {}

DemoTraffic::~DemoTraffic() {
    Stop();
}

void DemoTraffic::WriteErrorBurst() {
    Generator generator(Random_);
    const DateTime now = platform::Now();
    std::string lines;
    const int count = 3 + generator.Pick(3);
    for (int i = 0; i < count; ++i) {
        const Visitor& v =
            Visitors[static_cast<std::size_t>(generator.Pick(static_cast<int>(Visitors.size())))];
        DemoRequest request = MakeRequest(now, v.Address, v.Agent);
        request.Page =
            ErrorPages[static_cast<std::size_t>(generator.Pick(static_cast<int>(ErrorPages.size())))];
        request.Status = generator.Pick(2) == 0 ? 500 : 503;
        request.Bytes = 180;
        lines += NcsaLine(request) + "\n";
    }
    AppendLines(Home_.NcsaLog, lines);
}

bool DemoTraffic::Silent(std::chrono::milliseconds sinceStart) const {
    using namespace std::chrono_literals;
    return Incidents_.Pause && sinceStart >= 30s && sinceStart < 30s + 3min;
}

void DemoTraffic::Start() {
    Stop_.store(false);
    Thread_ = std::thread([this] { Run(); });
}

void DemoTraffic::Stop() {
    Stop_.store(true);
    if (Thread_.joinable())
        Thread_.join();
}

void DemoTraffic::WriteBurst() {
    Generator generator(Random_);
    const DateTime now = platform::Now();
    const bool w3c = generator.Pick(3) == 0;
    AppendLines(w3c ? Home_.W3cLog : Home_.NcsaLog, Lines(generator.Burst(now), w3c, generator));
}

void DemoTraffic::Run() {
    using namespace std::chrono_literals;
    const auto started = std::chrono::steady_clock::now();
    auto nextErrors = started + 20s;
    while (!Stop_.load()) {
        const auto now = std::chrono::steady_clock::now();
        const auto sinceStart = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
        if (Incidents_.Errors && now >= nextErrors && !Silent(sinceStart)) {
            WriteErrorBurst();
            nextErrors = now + 60s;
        }
        if (Silent(sinceStart)) {
            // Only the other server's log grows meanwhile.
            Generator generator(Random_);
            AppendLines(Home_.W3cLog, Lines(generator.Burst(platform::Now()), true, generator));
        } else {
            WriteBurst();
        }
        const int pauseMs = std::uniform_int_distribution<int>(200, 700)(Random_);
        for (int waited = 0; waited < pauseMs && !Stop_.load(); waited += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace kavel::cli
