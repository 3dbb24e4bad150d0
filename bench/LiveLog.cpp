// Appends NCSA Combined lines to a log as a busy web server does, for watching Kavel left
// running (scripts/window-soak.sh). Each line is stamped AGE seconds before the moment it is
// written, so that with a keep period of one hour and AGE 3590 every line expires ten seconds
// after it was written. Addresses come from a pool of 5,000 clients.
//
// Usage: LiveLog FILE LINES_PER_SECOND AGE_SECONDS [SECONDS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: LiveLog FILE LINES_PER_SECOND AGE_SECONDS [SECONDS]\n");
        return 2;
    }
    const long rate = std::strtol(argv[2], nullptr, 10);
    const long age = std::strtol(argv[3], nullptr, 10);
    const long seconds = argc == 5 ? std::strtol(argv[4], nullptr, 10) : -1;
    std::FILE* log = std::fopen(argv[1], "ab");
    if (log == nullptr || rate <= 0) {
        std::fprintf(stderr, "LiveLog: cannot append to %s\n", argv[1]);
        return 1;
    }
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto begin = std::chrono::steady_clock::now();
    for (long i = 0; seconds < 0 || i < rate * seconds; ++i) {
        std::this_thread::sleep_until(begin + std::chrono::microseconds(1000000LL * i / rate));
        const std::time_t stamp = std::time(nullptr) - age;
        std::tm local{};
        localtime_r(&stamp, &local);
        const long client = i * 7919 % 5000;
        std::fprintf(
            log,
            "10.%ld.%ld.%ld - - [%02d/%s/%04d:%02d:%02d:%02d +0000] \"GET /page/%ld.html HTTP/1.1\" 200 "
            "%ld \"http://example.org/\" \"Mozilla/5.0 (X11; Linux x86_64) Firefox/128.0\"\n",
            client / 65536 + 1, client / 256 % 256, client % 256, local.tm_mday, Months[local.tm_mon],
            local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, i % 997, 512 + i % 4096);
        if (i % 64 == 63)
            std::fflush(log);
    }
    std::fclose(log);
    return 0;
}
