// The shared log reader over arbitrary bytes, with tiny blocks and a tiny line bound so that
// every boundary is crossed: the lines must equal a plain split of the data, and appending more
// data later must continue exactly where reading stopped.

#include "acquisition/LogFileReader.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// LF, CR LF and a lone CR end a line, an unterminated last line counts, a line longer than the
// bound becomes empty.
std::vector<std::string> Split(std::string_view data, std::size_t maxLine) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find_first_of("\r\n", start);
        std::size_t next = end;
        if (end == std::string_view::npos) {
            end = data.size();
            next = end;
        } else if (data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n') {
            next = end + 2;
        } else {
            next = end + 1;
        }
        const std::string line(data.substr(start, end - start));
        lines.push_back(line.size() > maxLine ? std::string() : line);
        start = next;
    }
    return lines;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const std::int64_t block = 1 + bytes[0] % 32;
    const std::size_t maxLine = 1 + bytes[1] % 64;
    const std::size_t cut = 3 + (size - 3) * bytes[2] / 256;
    const std::string_view data(reinterpret_cast<const char*>(bytes) + 3, size - 3);

    const int fd = ::memfd_create("kavel-fuzz", 0);
    if (fd < 0) {
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    Check(::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()));
    {
        kavel::LogFileReader reader(block, maxLine);
        reader.Open(path);
        std::vector<std::string> lines;
        std::int64_t last = 0;
        while (!reader.AtEnd()) {
            std::string line = reader.ReadLine();
            Check(line.find_first_of("\r\n") == std::string::npos && line.size() <= maxLine);
            Check(reader.Position() > last);
            last = reader.Position();
            lines.push_back(std::move(line));
        }
        Check(reader.Position() == static_cast<std::int64_t>(data.size()));
        Check(lines == Split(data, maxLine));

        // Every position lands where asked, inside the buffer or not.
        for (std::size_t i = 0; i < data.size(); i += 1 + data.size() / 7) {
            reader.Seek(static_cast<std::int64_t>(i));
            Check(reader.Position() == static_cast<std::int64_t>(i));
        }
    }
    {
        // Written in two steps: what was read at the cut plus what follows gives every byte once.
        Check(::ftruncate(fd, 0) == 0);
        const std::size_t first = cut - 3;
        Check(::pwrite(fd, data.data(), first, 0) == static_cast<ssize_t>(first));
        kavel::LogFileReader reader(block, maxLine);
        reader.Open(path);
        std::size_t consumed = 0;
        while (!reader.AtEnd()) {
            reader.ReadLine();
        }
        consumed = static_cast<std::size_t>(reader.Position());
        Check(consumed == first);
        Check(::pwrite(fd, data.data() + first, data.size() - first, static_cast<off_t>(first)) ==
              static_cast<ssize_t>(data.size() - first));
        while (!reader.AtEnd()) {
            reader.ReadLine();
        }
        Check(reader.Position() == static_cast<std::int64_t>(data.size()));
    }
    ::close(fd);
    return 0;
}
