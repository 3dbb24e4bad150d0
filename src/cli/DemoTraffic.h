#pragma once

#include <atomic>
#include <chrono>
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
    std::filesystem::path W3cLog;
};

// Writes the definition files and the two logs into home (created when missing). Existing
// logs are kept and appended to. An alerts file with two rules is written when there is none:
// "Serverfehler" (at least three 5xx answers of any server within five minutes) and "Stille"
// (www.demo.example without an access for two minutes).
DemoHome CreateDemoHome(const std::filesystem::path& home);

// What the demo traffic does on request besides ordinary traffic, so that alerts have
// something to report.
struct DemoIncidents {
    // Every minute, from 20 s after the start, www.demo.example answers a few requests with
    // 500 and 503.
    bool Errors = false;
    // From 30 s after the start, www.demo.example writes nothing for three minutes.
    bool Pause = false;
};

// Appends realistic traffic to the demo logs every few hundred milliseconds on a thread of
// its own: visitors browsing pages with their images, returning visitors, spiders fetching
// /robots.txt, broken links, now and then a PUT or a "../" probe.
class DemoTraffic {
public:
    explicit DemoTraffic(DemoHome home, unsigned seed = std::random_device{}());
    ~DemoTraffic();
    DemoTraffic(const DemoTraffic&) = delete;
    DemoTraffic& operator=(const DemoTraffic&) = delete;

    // Before Start.
    void SetIncidents(DemoIncidents incidents) { Incidents_ = incidents; }
    void Start();
    void Stop();
    // One burst of lines, as the thread writes it; for tests.
    void WriteBurst();
    // The incidents' part of the traffic at the given time after the start: the error burst
    // when one is due, and whether www.demo.example is silent now.
    void WriteErrorBurst();
    bool Silent(std::chrono::milliseconds sinceStart) const;

private:
    void Run();

    DemoHome Home_;
    DemoIncidents Incidents_;
    std::mt19937 Random_;
    std::atomic<bool> Stop_{false};
    std::thread Thread_;
};

} // namespace kavel::cli
