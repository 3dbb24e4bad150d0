#pragma once

// Generated access logs for the parse and memory benchmarks: a busy site with thousands of
// clients, a few crawlers, pages and their images, several lines per second.

#include "BenchWorkspace.h"
#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "parsing/NameList.h"
#include "parsing/SpiderList.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace kavel::bench {

inline const char* const Agents[] = {
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 "
    "Safari/537.36",
    "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.1 Mobile/15E148 Safari/604.1",
    "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
    "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)",
    "curl/8.4.0",
};

inline const char* const Pages[] = {
    "/",          "/index.html",  "/shop/item.php?id=%d", "/news/%d.html", "/img/logo.png", "/css/site.css",
    "/js/app.js", "/img/p%d.jpg", "/search.asp?q=x%d",    "/favicon.ico",  "/about.htm",    "/robots.txt",
};

inline const char* const Extensions[] = {".html", ".htm", ".php", ".asp",   ".aspx",
                                         ".jsp",  ".cgi", ".pl",  ".shtml", ".txt"};

// The lists of a typical installation: a few hundred spider entries, ten document
// extensions, a handful of buddies.
inline void FillLists() {
    std::vector<Spider> spiders;
    for (int i = 0; i < 300; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, i % 3 == 0 ? "crawl-%d.search%d.example" : "bot%d.engine%d.example",
                      i, i % 17);
        spiders.push_back({name, i % 11 == 0});
    }
    spiders.push_back({"66.249.66.1", false});
    spiders.push_back({".157.55.39.146", false});
    Space().Spiders().Assign(spiders);
    Space().Documents().Assign(std::vector<std::string>(std::begin(Extensions), std::end(Extensions)));
    Space().Buddies().Assign({"10.1.2.3", "proxy.friend.example", "192.0.2.200"});
}

// Options held in memory: no reverse look-ups, the default revisitor time.
class BenchOptions {
public:
    BenchOptions() {
        Config_.SetPersistenceMode(Persistence::None);
        Config_.AddItem("Options", "MiscDnsResolve", SettingKind::Boolean, false);
        Config_.AddItem("Options", "TimeRevisitorAfterMinutes", SettingKind::Integer, std::int32_t{10});
        Space().SetOptions(&Config_);
    }
    ~BenchOptions() { Space().SetOptions(nullptr); }

private:
    SettingsStore Config_;
};

inline std::string Host(std::mt19937& random, int hosts) {
    const unsigned h = static_cast<unsigned>(random() % static_cast<unsigned>(hosts));
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", 20 + h % 200, (h / 200) % 250, (h * 7) % 250,
                  1 + h % 254);
    return text;
}

inline std::string Page(std::mt19937& random) {
    char page[96];
    std::snprintf(page, sizeof page, Pages[random() % std::size(Pages)], static_cast<int>(random() % 5000));
    return page;
}

// NCSA Combined lines, a few per second from 2024-03-01 on.
inline std::vector<std::string> CombinedLines(std::size_t count, int hosts = 5000, unsigned seed = 1) {
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::mt19937 random(seed);
    std::vector<std::string> lines;
    lines.reserve(count);
    long second = 0;
    for (std::size_t i = 0; i < count; ++i) {
        second += random() % 4 == 0 ? 1 : 0;
        const long day = 1 + second / 86400 % 28;
        const long month = (second / (86400 * 28)) % 12;
        char line[1024];
        std::snprintf(line, sizeof line,
                      "%s - %s [%02ld/%s/2024:%02ld:%02ld:%02ld +0100] \"GET %s HTTP/1.1\" %d %d "
                      "\"https://www.example.com%s\" \"%s\"",
                      Host(random, hosts).c_str(), random() % 50 == 0 ? "admin" : "-", day, Months[month],
                      second / 3600 % 24, second / 60 % 60, second % 60, Page(random).c_str(),
                      random() % 20 == 0 ? 404 : 200, static_cast<int>(random() % 60000),
                      Page(random).c_str(), Agents[random() % std::size(Agents)]);
        lines.emplace_back(line);
    }
    return lines;
}

// W3C Extended lines with all 22 fields in the fixed order.
inline std::vector<std::string> W3cLines(std::size_t count, int hosts = 5000, unsigned seed = 2) {
    std::mt19937 random(seed);
    std::vector<std::string> lines;
    lines.reserve(count);
    long second = 0;
    for (std::size_t i = 0; i < count; ++i) {
        second += random() % 4 == 0 ? 1 : 0;
        std::string agent = Agents[random() % std::size(Agents)];
        for (char& c : agent)
            if (c == ' ')
                c = '+';
        std::string stem = Page(random);
        std::string query = "-";
        if (const std::size_t q = stem.find('?'); q != std::string::npos) {
            query = stem.substr(q + 1);
            stem.resize(q);
        }
        char line[1024];
        std::snprintf(
            line, sizeof line,
            "2024-03-%02ld %02ld:%02ld:%02ld %s - W3SVC1 WEB01 198.51.100.1 80 GET %s %s %d 0 0 %d %d %d "
            "HTTP/1.1 www.example.com %s ASPSESSIONID=ABC%d https://www.example.com/",
            1 + second / 86400 % 28, second / 3600 % 24, second / 60 % 60, second % 60,
            Host(random, hosts).c_str(), stem.c_str(), query.c_str(), random() % 20 == 0 ? 404 : 200,
            static_cast<int>(random() % 60000), static_cast<int>(random() % 900),
            static_cast<int>(random() % 300), agent.c_str(), static_cast<int>(random() % 1000));
        lines.emplace_back(line);
    }
    return lines;
}

} // namespace kavel::bench
