#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace kavel::cli {

// Splits a byte stream into log lines as a reader does: LF or CR LF end a line (a lone CR is
// part of the line), a final line without end counts. Lines may be of any length and hold
// any bytes, NUL included.
class LineSplitter {
public:
    using OnLine = std::function<void(std::string_view line)>;

    void Feed(std::string_view block, const OnLine& onLine);
    // Hands over the unterminated last line, if any.
    void Finish(const OnLine& onLine);

private:
    std::string Pending_;
};

// Reads the whole stream in large blocks; false when reading failed (the lines read before
// were handed over).
bool ReadLines(std::FILE* stream, const LineSplitter::OnLine& onLine);

// "kavel-cli parse": argv[0] is "parse", the home options were already taken by
// platform::Paths::Init. Returns the exit status.
int RunParse(int argc, char** argv);

} // namespace kavel::cli
