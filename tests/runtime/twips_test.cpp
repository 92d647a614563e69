#include "runtime/twips.h"
#include "support/case_names.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct Case {
    double twips;
    std::optional<int> pixels;
};

class TwipsToPixels : public testing::TestWithParam<Case> {};

TEST_P(TwipsToPixels, RoundsToTheNearestPixelOrRefuses) {
    EXPECT_EQ(rt::twipsToPixels(GetParam().twips), GetParam().pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TwipsToPixels,
    testing::Values(Case{0, 0}, Case{15, 1}, Case{9000, 600}, Case{7.4, 0}, Case{7.5, 1},
                    Case{-7.5, -1}, Case{8180.0166015625, 545}, Case{-4000, -267},
                    Case{1e300, std::nullopt},
                    Case{std::numeric_limits<double>::infinity(), std::nullopt},
                    Case{std::numeric_limits<double>::quiet_NaN(), std::nullopt}),
    [](const auto& info) { return casenames::of(info.param.twips); });

} // namespace
