// The area filter turns a photo upright as it finishes its rows, and hands a
// large one's rows to a second thread: either way the kept frame must be the
// one reducing it plainly and then turning it gives.

#include "decoder/reduce.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct TurnCase {
    const char* name;
    decoder::Size from, to;
};

class ReducerTurns : public testing::TestWithParam<TurnCase> {};

TEST_P(ReducerTurns, AsReducingThenTurningForEveryOrientation) {
    const auto [name, from, to] = GetParam();
    std::mt19937 random(7);
    std::vector<std::uint32_t> picture(static_cast<std::size_t>(from.width) * from.height);
    for (std::uint32_t& p : picture)
        p = 0xff000000u | (random() & 0xffffff);
    const auto reduce = [&](int orientation) {
        decoder::Reducer reducer(from, to, orientation);
        for (int y = 0; y < from.height; ++y)
            reducer.row(picture.data() + static_cast<std::size_t>(y) * from.width);
        return reducer.frame();
    };
    const decoder::Frame plain = reduce(1);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        decoder::Frame expected = plain;
        decoder::orient(expected, orientation);
        const decoder::Frame got = reduce(orientation);
        EXPECT_EQ(got.width, expected.width) << orientation;
        EXPECT_EQ(got.height, expected.height) << orientation;
        EXPECT_TRUE(got.pixels == expected.pixels) << "orientation " << orientation;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ReducerTurns,
    testing::Values(TurnCase{"KeptAtItsOwnSize", {64, 48}, {64, 48}},
                    TurnCase{"SmallReduced", {640, 480}, {301, 200}},
                    TurnCase{"LargeOnASecondThread", {1500, 1100}, {700, 600}},
                    TurnCase{"LargeByAHair", {2000, 1000}, {1999, 999}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
