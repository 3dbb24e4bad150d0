#include "EntryGrep.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace kavel::cli {

std::string GrepHelp(std::size_t column) {
    static constexpr std::pair<std::string_view, std::string_view> Options[] = {
        {"--grep PATTERN", "print only the accesses in which PATTERN occurs in one of the texts that\n"
                           "the window's accesses list shows for them when all servers are listed:\n"
                           "the server's name, the time (in the locale's form), the address or host\n"
                           "name, user, method, page, code with its reason (\"404 Not Found\"),\n"
                           "referring page and user agent; log bytes as the window shows them"},
        {"--regex", "PATTERN is a regular expression (RE2 syntax: \"^\" and \"$\" are the\n"
                    "start and end of each text); without it PATTERN is plain text"},
        {"--ignore-case", "upper and lower case letters match each other"},
    };
    std::string text;
    for (const auto& [option, description] : Options) {
        std::string line = "  " + std::string(option);
        line.resize(std::max(column, line.size() + 2), ' ');
        text += line;
        for (const char c : description) {
            text += c;
            if (c == '\n')
                text.append(column, ' ');
        }
        text += '\n';
    }
    return text;
}

bool GrepOptions::Take(int argc, char** argv, int& i) {
    const std::string_view arg = argv[i];
    if (arg == "--regex") {
        Regex = true;
    } else if (arg == "--ignore-case") {
        IgnoreCase = true;
    } else if (arg.starts_with("--grep=")) {
        Pattern = std::string(arg.substr(7));
    } else if (arg == "--grep") {
        if (i + 1 >= argc)
            throw std::invalid_argument("--grep needs a pattern");
        Pattern = std::string(argv[++i]);
    } else {
        return false;
    }
    return true;
}

std::variant<EntryGrep, std::string> EntryGrep::Make(const GrepOptions& options) {
    EntryGrep grep;
    if (!options.Pattern)
        return grep;
    PatternOptions patternOptions;
    patternOptions.Syntax = options.Regex ? PatternSyntax::RegularExpression : PatternSyntax::Text;
    patternOptions.CaseSensitive = !options.IgnoreCase;
    auto compiled = TextPattern::Compile(*options.Pattern, patternOptions);
    if (auto* error = std::get_if<std::string>(&compiled))
        return "--grep: " + *error;
    grep.Pattern_ = std::make_unique<TextPattern>(std::move(std::get<TextPattern>(compiled)));
    return grep;
}

void EntryGrep::Bind(const SpiderList& spiders) {
    if (Pattern_)
        Matcher_.emplace(*Pattern_, AccessCells, spiders);
}

bool EntryGrep::Matches(const LogEntry& entry) {
    if (!Pattern_)
        return true;
    if (!Matcher_)
        throw std::logic_error("--grep used before it was bound to the spiders list");
    return Matcher_->Matches(entry);
}

} // namespace kavel::cli
