#pragma once

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

namespace kavel::cli {

// A self-contained workspace for trying Kavel out: two servers (NCSA Combined and W3C
// Extended), their definition lists and logs with an hour of history.
struct DemoHome {
    std::filesystem::path Home;
    std::filesystem::path NcsaLog;
    std::filesystem::path W3CLog;
};

// Writes the definition files and the two logs into home (created when missing). Existing
// logs are kept and appended to.
DemoHome CreateDemoHome(const std::filesystem::path& home);

// Appends realistic traffic to the demo logs every few hundred milliseconds on a thread of
// its own: visitors browsing pages with their images, returning visitors, spiders fetching
// /robots.txt, broken links, now and then a PUT or a "../" probe.
class DemoTraffic {
public:
    explicit DemoTraffic(DemoHome home, unsigned seed = std::random_device{}());
    ~DemoTraffic();
    DemoTraffic(const DemoTraffic&) = delete;
    DemoTraffic& operator=(const DemoTraffic&) = delete;

    void Start();
    void Stop();
    // One burst of lines, as the thread writes it; for tests.
    void WriteBurst();

private:
    void Run();

    DemoHome Home_;
    std::mt19937 Random_;
    std::atomic<bool> Stop_{false};
    std::thread Thread_;
};

} // namespace kavel::cli
