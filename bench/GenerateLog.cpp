// Writes a deterministic access log for timing the whole ingest path with kavel-cli parse:
// NCSA Combined lines of about 270 bytes, or W3C lines with all 22 fields (about 310 bytes),
// spread evenly over the 48 hours before 2024-03-03 00:00:00. W3C lines carry the fields in
// the fixed order, without a directive (a server with every field bit set reads them).
//
// Usage: GenerateLog ncsa|w3c LINES FILE

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

namespace {

const char* const Agents[] = {
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/122.0.0.0 "
    "Safari/537.36",
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.3 Safari/605.1.15",
    "Mozilla/5.0 (X11; Linux x86_64; rv:123.0) Gecko/20100101 Firefox/123.0",
    "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 17_3 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.3 Mobile/15E148 Safari/604.1",
    "Opera/9.80 (Windows NT 6.1; U; de) Presto/2.10.289 Version/12.02",
};

const char* const Pages[] = {
    "/shop/category/garden-furniture/item-%d.html",
    "/images/products/large/%d-front.jpg",
    "/css/site.min.css?v=%d",
    "/js/bundle.%d.js",
    "/search.php?q=lounge+chair&page=%d",
    "/checkout/cart.aspx?session=%d",
    "/index.html",
    "/blog/2024/02/spring-collection-%d.htm",
};

std::string Host(std::mt19937& random) {
    const unsigned h = static_cast<unsigned>(random() % 20000u);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", 20 + h % 200, (h / 200) % 250, (h * 7) % 250,
                  1 + h % 254);
    return text;
}

std::string Page(std::mt19937& random) {
    char page[128];
    std::snprintf(page, sizeof page, Pages[random() % std::size(Pages)], static_cast<int>(random() % 5000));
    return page;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::string_view(argv[1]) != "ncsa" && std::string_view(argv[1]) != "w3c")) {
        std::fprintf(stderr, "usage: GenerateLog ncsa|w3c LINES FILE\n");
        return 2;
    }
    const bool w3c = std::string_view(argv[1]) == "w3c";
    const long count = std::strtol(argv[2], nullptr, 10);
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || count <= 0) {
        std::fprintf(stderr, "GenerateLog: cannot write %s\n", argv[3]);
        return 1;
    }
    std::mt19937 random(20240301);
    const long span = 48L * 3600;
    for (long i = 0; i < count; ++i) {
        const long second = i * span / count;
        const long day = 1 + second / 86400;
        std::string agent = Agents[random() % std::size(Agents)];
        const int status = random() % 20 == 0 ? 404 : 200;
        const int bytes = static_cast<int>(random() % 60000);
        if (!w3c) {
            std::fprintf(out,
                         "%s - %s [%02ld/Mar/2024:%02ld:%02ld:%02ld +0100] \"GET %s HTTP/1.1\" %d %d "
                         "\"https://www.example-garden-shop.com%s\" \"%s\"\n",
                         Host(random).c_str(), random() % 50 == 0 ? "admin" : "-", day, second / 3600 % 24,
                         second / 60 % 60, second % 60, Page(random).c_str(), status, bytes,
                         Page(random).c_str(), agent.c_str());
            continue;
        }
        for (char& c : agent)
            if (c == ' ')
                c = '+';
        std::string stem = Page(random);
        std::string query = "-";
        if (const std::size_t q = stem.find('?'); q != std::string::npos) {
            query = stem.substr(q + 1);
            stem.resize(q);
        }
        std::fprintf(
            out,
            "2024-03-%02ld %02ld:%02ld:%02ld %s - W3SVC1 WEB01 198.51.100.1 80 GET %s %s %d 0 0 %d %d "
            "%d HTTP/1.1 www.example-garden-shop.com %s ASPSESSIONID=ABC%d "
            "https://www.example-garden-shop.com/\r\n",
            day, second / 3600 % 24, second / 60 % 60, second % 60, Host(random).c_str(), stem.c_str(),
            query.c_str(), status, bytes, static_cast<int>(random() % 900), static_cast<int>(random() % 300),
            agent.c_str(), static_cast<int>(random() % 1000));
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
