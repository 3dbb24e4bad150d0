// A program that alert commands start in the tests. It records exactly what it was given, so a
// test can compare bytes, and it can hold still or wait, so a test can see the time limit and
// the one-run-at-a-time rule at work.
//
//   record FILE ARGS...      writes ARGS and the KAVEL_* environment variables to FILE:
//                            "A" or "E", the length as 8 decimal digits, then the bytes, for
//                            each; then exits 0
//   say CODE LINES...        prints each LINE on its own line on standard output (odd ones
//                            on standard error) and exits with CODE
//   hang PIDFILE             starts a child; writes both process ids to PIDFILE, then both wait
//                            forever
//   wait FILE MARK           creates MARK, then waits (up to a minute) until FILE exists

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

void Put(std::string& out, char kind, std::string_view bytes) {
    char length[16];
    std::snprintf(length, sizeof length, "%08zu", bytes.size());
    out += kind;
    out += length;
    out += bytes;
}

bool Exists(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 64;
    const std::string_view mode = argv[1];
    if (mode == "record" && argc >= 3) {
        std::string out;
        for (int i = 3; i < argc; ++i)
            Put(out, 'A', argv[i]);
        for (char** entry = environ; *entry != nullptr; ++entry)
            if (std::strncmp(*entry, "KAVEL_", 6) == 0)
                Put(out, 'E', *entry);
        std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
        file.write(out.data(), static_cast<std::streamsize>(out.size()));
        return file ? 0 : 1;
    }
    if (mode == "say" && argc >= 3) {
        for (int i = 3; i < argc; ++i) {
            std::FILE* stream = (i - 3) % 2 == 0 ? stdout : stderr;
            std::fprintf(stream, "%s\n", argv[i]);
            std::fflush(stream);
        }
        return std::atoi(argv[2]);
    }
    if (mode == "hang" && argc >= 3) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;)
                ::pause();
        }
        {
            std::ofstream file(std::string(argv[2]) + ".tmp");
            file << ::getpid() << ' ' << child << '\n';
        }
        std::rename((std::string(argv[2]) + ".tmp").c_str(), argv[2]);
        for (;;)
            ::pause();
    }
    if (mode == "wait" && argc >= 4) {
        std::ofstream(argv[3]).put('1');
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!Exists(argv[2]) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    }
    return 64;
}
