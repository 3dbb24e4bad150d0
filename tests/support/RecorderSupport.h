#pragma once

#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kavel::test {

// What the AlertCommandRecorder helper wrote with "record": its arguments and its KAVEL_*
// environment variables, byte for byte.
struct RecordedCall {
    std::vector<std::string> Arguments;
    std::map<std::string, std::string> Environment;
};

inline std::optional<RecordedCall> ReadRecordedCall(const std::filesystem::path& file) {
    if (!std::filesystem::exists(file))
        return std::nullopt;
    const std::string bytes = ReadBytes(file);
    RecordedCall call;
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (i + 9 > bytes.size())
            return std::nullopt;
        const char kind = bytes[i];
        const std::size_t length = std::stoul(bytes.substr(i + 1, 8));
        if (i + 9 + length > bytes.size())
            return std::nullopt;
        std::string text = bytes.substr(i + 9, length);
        i += 9 + length;
        if (kind == 'A') {
            call.Arguments.push_back(std::move(text));
        } else {
            const std::size_t equals = text.find('=');
            call.Environment[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    return call;
}

} // namespace kavel::test
