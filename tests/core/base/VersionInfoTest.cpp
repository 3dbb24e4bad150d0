#include "base/VersionInfo.h"

#include <gtest/gtest.h>
#include <string>

namespace kavel {
namespace {

// What the about box, "--version", the definition files' headers and the settings' registry path
// show: the version the project is built and packaged as, keys asked in any case, and "?" for a
// key the information lacks (a near miss too).
TEST(VersionInfo, AnswersTheProjectsValuesByKeyInAnyCase) {
    const struct {
        const char* Key;
        std::string Value;
    } cases[] = {
        {"FileVersion", KAVEL_TEST_PROJECT_VERSION},
        {"FILEVERSION", KAVEL_TEST_PROJECT_VERSION},
        {"productname", ProductName()},
        {"Comments", "?"},
        {"", "?"},
        {"FileVersio", "?"},
        {"FileVersion ", "?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VersionInfoValue("kavel", c.Key), c.Value) << c.Key;
    EXPECT_EQ(ProductName(), "Kavel");
    for (const char* key : {"CompanyName", "FileDescription", "LegalCopyright"})
        EXPECT_NE(VersionInfoValue("kavel", key), "?") << key;
}

// The about box shows the last of the four numbers as the build number: the version must have
// four, each of digits only.
TEST(VersionInfo, FileVersionIsFourNumbers) {
    const std::string version = VersionInfoValue("kavel", "FileVersion");
    int numbers = 1;
    bool digitSeen = false;
    for (const char c : version) {
        if (c == '.') {
            EXPECT_TRUE(digitSeen) << version;
            ++numbers;
            digitSeen = false;
        } else {
            EXPECT_TRUE(c >= '0' && c <= '9') << version;
            digitSeen = true;
        }
    }
    EXPECT_TRUE(digitSeen) << version;
    EXPECT_EQ(numbers, 4) << version;
}

} // namespace
} // namespace kavel
