#include "ui/WindowLayout.h"

#include <gtest/gtest.h>
#include <vector>

namespace kavel::ui {
namespace {

TEST(CaptionWithPrefix, ReplacesOrAddsThePrefix) {
    EXPECT_EQ(CaptionWithPrefix("Kavel", "Web"), "Web - Kavel");
    EXPECT_EQ(CaptionWithPrefix("Old - Kavel", "Web"), "Web - Kavel");
    EXPECT_EQ(CaptionWithPrefix("A - B - Kavel", "Web"), "Web - B - Kavel");
    EXPECT_EQ(CaptionWithPrefix("", "Web"), "Web - ");
    EXPECT_EQ(CaptionWithPrefix("A-B", ""), " - A-B");
}

struct WidthsCase {
    const char* Text;
    std::vector<int> Widths;
};

class ColumnWidthsTest : public testing::TestWithParam<WidthsCase> {};

TEST_P(ColumnWidthsTest, AppliesNumbersOfZeroOrMoreByPosition) {
    EXPECT_EQ(ApplyColumnWidths({10, 20, 30}, GetParam().Text), GetParam().Widths);
}

INSTANTIATE_TEST_SUITE_P(Texts, ColumnWidthsTest,
                         testing::Values(WidthsCase{"", {10, 20, 30}}, WidthsCase{"100,,250", {100, 250, 30}},
                                         WidthsCase{"-5,250", {10, 250, 30}}, WidthsCase{"x,0,7", {10, 0, 7}},
                                         WidthsCase{",,,", {10, 20, 30}}, WidthsCase{"1,2,3,4,5", {1, 2, 3}},
                                         WidthsCase{" 5,6 ", {10, 20, 30}},
                                         WidthsCase{"99999999999,1", {10, 1, 30}}));

TEST(ColumnWidths, TextRoundTrip) {
    EXPECT_EQ(ColumnWidthsText({}), "");
    EXPECT_EQ(ColumnWidthsText({100, 0, 250}), "100,0,250");
    EXPECT_EQ(ApplyColumnWidths({1, 1, 1}, ColumnWidthsText({100, 0, 250})), (std::vector<int>{100, 0, 250}));
}

} // namespace
} // namespace kavel::ui
