#include "base/CommandLine.h"

#include <algorithm>

namespace kavel {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::optional<std::vector<std::string>> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (IsBlank(c)) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            ++i;
            continue;
        }
        inWord = true;
        if (c != '"') {
            word += c;
            ++i;
            continue;
        }
        // A quoted stretch, up to its closing quote.
        ++i;
        bool closed = false;
        while (i < line.size()) {
            const char q = line[i];
            if (q == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                word += line[i + 1];
                i += 2;
                continue;
            }
            ++i;
            if (q == '"') {
                closed = true;
                break;
            }
            word += q;
        }
        if (!closed)
            return std::nullopt;
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::string JoinCommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty())
            line += ' ';
        const bool quote = word.empty() || word.find_first_of(" \t\"") != std::string::npos;
        if (!quote) {
            line += word;
            continue;
        }
        line += '"';
        for (const char c : word) {
            if (c == '"' || c == '\\')
                line += '\\';
            line += c;
        }
        line += '"';
    }
    return line;
}

std::string ArgumentSafe(std::string_view value) {
    std::string safe;
    safe.reserve(std::min(value.size(), MaxPlaceholderBytes));
    for (const char c : value) {
        if (safe.size() >= MaxPlaceholderBytes)
            break;
        if (c == '\0')
            safe += "\\0";
        else
            safe += c;
    }
    if (safe.size() > MaxPlaceholderBytes)
        safe.resize(MaxPlaceholderBytes);
    return safe;
}

std::string FillPlaceholders(std::string_view argument, const PlaceholderValues& values) {
    std::string filled;
    std::size_t i = 0;
    while (i < argument.size() && filled.size() < MaxArgumentBytes) {
        const char c = argument[i];
        if (c == '{') {
            const std::size_t close = argument.find('}', i + 1);
            if (close != std::string_view::npos) {
                const std::string_view name = argument.substr(i + 1, close - i - 1);
                const std::string* value = nullptr;
                for (const auto& [key, text] : values)
                    if (key == name)
                        value = &text;
                if (value != nullptr) {
                    filled += ArgumentSafe(*value);
                    i = close + 1;
                    continue;
                }
            }
        }
        filled += c;
        ++i;
    }
    if (filled.size() > MaxArgumentBytes)
        filled.resize(MaxArgumentBytes);
    return filled;
}

} // namespace kavel
