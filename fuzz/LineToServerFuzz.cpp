// Servers-file lines from anywhere: reading never crashes, and a definition written back reads
// as the same line again. The input is also taken as a name and a template to check that the
// writer only ever produces lines that read back field for field.
#include "acquisition/Server.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckRoundTrip(const kavel::Server& server) {
    const std::string line = kavel::ServerToLine(server);
    Check(!line.empty() && line.front() != '#');
    const auto read = kavel::LineToServer(line);
    Check(read != nullptr);
    Check(kavel::ServerToLine(*read) == line);
    Check(read->TimeDeleteAfter() == server.TimeDeleteAfter());
    Check(read->TimeLogPollCycleInMs() == server.TimeLogPollCycleInMs());
    Check(read->LogType() == server.LogType());
    Check(read->W3cFields() == server.W3cFields());
    Check(read->TimeZone() == server.TimeZone());
    Check(read->Active() == server.Active());
    Check(read->TimeRevisitorAfterMinutes() == server.TimeRevisitorAfterMinutes());
    Check(read->SoundOnAccess() == server.SoundOnAccess());
    Check(read->TimeDeleteAfterUnit() == server.TimeDeleteAfterUnit());
    Check(read->PopupOnDocument() == server.PopupOnDocument());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (const auto server = kavel::LineToServer(input))
        CheckRoundTrip(*server);

    kavel::Server made;
    const std::size_t half = size / 2;
    made.SetName(std::string(input.substr(0, half)));
    made.SetLogFileName(std::string(input.substr(half)));
    made.SetTimeZone(static_cast<std::int32_t>(size) - 12);
    made.SetW3cFields(static_cast<std::uint32_t>(size * 2654435761u));
    made.SetActive(size % 2 == 0);
    CheckRoundTrip(made);
    return 0;
}
