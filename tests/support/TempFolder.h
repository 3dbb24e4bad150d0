#pragma once

#include "platform/Paths.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <unistd.h>

namespace kavel::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the
// end of the scope.
class TempFolder {
public:
    TempFolder() {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        for (;;) {
            Path_ = std::filesystem::temp_directory_path() /
                    ("kavel-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                     std::to_string(random()));
            if (std::filesystem::create_directory(Path_))
                break;
        }
    }
    ~TempFolder() {
        std::error_code ec;
        // Tests may leave a folder read-only; make it removable again.
        std::filesystem::permissions(Path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(Path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return Path_; }
    std::filesystem::path operator/(std::string_view name) const { return Path_ / name; }

private:
    std::filesystem::path Path_;
};

inline void WriteBytes(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Points the program's home folder (definition files, ".config") and the per-user styles file
// into a temporary folder for the scope.
class ScopedHome {
public:
    ScopedHome() {
        platform::Paths::SetHomeDir(Folder_.Path());
        platform::Paths::SetStylesFile(Folder_.Path() / "styles" / "Kavel.ini");
    }
    ~ScopedHome() {
        platform::Paths::SetHomeDir({});
        platform::Paths::SetStylesFile({});
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    const std::filesystem::path& Path() const { return Folder_.Path(); }
    std::filesystem::path operator/(std::string_view name) const { return Folder_ / name; }

private:
    TempFolder Folder_;
};

} // namespace kavel::test
