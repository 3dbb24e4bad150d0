#include "base/VersionInfo.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

TEST(VersionInfo, CompiledInValues) {
    EXPECT_EQ(ProductName(), "Kavel");
    EXPECT_EQ(VersionInfoValue("kavel", "CompanyName"), "Quarnet");
    EXPECT_EQ(VersionInfoValue("kavel", "productname"), "Kavel");
    EXPECT_NE(VersionInfoValue("kavel", "FileVersion"), "?");
    EXPECT_NE(VersionInfoValue("kavel", "FileDescription"), "?");
    EXPECT_NE(VersionInfoValue("kavel", "LegalCopyright"), "?");
    EXPECT_EQ(VersionInfoValue("kavel", "Comments"), "?");
    EXPECT_EQ(VersionInfoValue("kavel", ""), "?");
}

} // namespace
} // namespace kavel
