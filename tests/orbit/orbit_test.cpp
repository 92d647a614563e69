#include "orbit/orbit.h"
#include "runtime/error.h"
#include "support/case_names.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

// A window of a fixed outer size that records every move, and can be told to
// fail at one of its three operations.
struct FakeWindow final : orbit::OrbitWindow {
    enum class Fail { Never, Width, Height, Move };

    FakeWindow(float w, float h)
        : width(w)
        , height(h) {}
    float outerWidth() override {
        if (fail == Fail::Width)
            throw rt::Error(rt::ErrorNumber::Overflow);
        return width;
    }
    float outerHeight() override {
        if (fail == Fail::Height)
            throw rt::Error(rt::ErrorNumber::Overflow);
        return height;
    }
    void moveEarth(float left, double top) override {
        if (fail == Fail::Move)
            throw rt::Error(rt::ErrorNumber::Overflow);
        moves.push_back({left, top});
    }

    struct Move {
        float left;
        double top;
    };
    float width;
    float height;
    Fail fail = Fail::Never;
    std::vector<Move> moves;
};

struct TickCase {
    int tick;
    double t; // the angle the tick uses
    float left;
    double top;
};

class TickAt12000x9000 : public testing::TestWithParam<TickCase> {};

TEST_P(TickAt12000x9000, MovesTheEarthToTheExactPosition) {
    const TickCase& c = GetParam();
    FakeWindow window(12000, 9000);
    orbit::OrbitState state;
    for (int n = 1; n < c.tick; ++n)
        orbit::tick(state, window);
    EXPECT_EQ(state.t, c.t);
    orbit::tick(state, window);
    ASSERT_EQ(window.moves.size(), static_cast<size_t>(c.tick));
    EXPECT_EQ(window.moves.back().left, c.left);
    EXPECT_EQ(window.moves.back().top, c.top);
    EXPECT_EQ(static_cast<float>(state.x), c.left);
    EXPECT_EQ(state.y, c.top);
}

INSTANTIATE_TEST_SUITE_P(Ticks, TickAt12000x9000,
                         testing::Values(TickCase{1, 0.0, 8200.0f, 2250.0},
                                         TickCase{2, 0.1, 8180.0166015625f, 2050.3331667063435},
                                         TickCase{3, 0.1 + 0.1, 8120.26611328125f,
                                                  1852.6613384098775}),
                         [](const auto& info) { return "Tick" + casenames::of(info.param.tick); });

// Ticks 16 and 17 are checked for their angles and the side of the top they
// lie on; their exact digits follow from the exactness test.
TEST(Tick, CrossesTheTopOfTheOrbitBetweenTicks16And17) {
    FakeWindow window(12000, 9000);
    orbit::OrbitState state;
    for (int n = 1; n <= 15; ++n)
        orbit::tick(state, window);
    EXPECT_EQ(state.t, 1.5000000000000002);
    orbit::tick(state, window);
    EXPECT_EQ(state.t, 1.6000000000000003);
    orbit::tick(state, window);
    const double cx = 12000 * 0.35;
    // Tick 16 is right of the centre line, tick 17 left of it; both near the top.
    EXPECT_GT(window.moves[15].left, cx);
    EXPECT_LT(window.moves[16].left, cx);
    EXPECT_LT(window.moves[15].top, 9000 * 0.25 - 1990);
    EXPECT_LT(window.moves[16].top, 9000 * 0.25 - 1990);
}

TEST(Tick, AngleGrowsByRepeatedAdditionAndIsNeverWrapped) {
    FakeWindow window(12000, 9000);
    orbit::OrbitState state;
    double expected = 0;
    for (int n = 0; n < 1000; ++n) {
        orbit::tick(state, window);
        expected += 0.1;
    }
    EXPECT_EQ(state.t, expected);
    EXPECT_GT(state.t, 99.0); // many revolutions, still unwrapped
}

TEST(Tick, GoesAnticlockwiseOnScreenFromTheRightmostPoint) {
    FakeWindow window(12000, 9000);
    orbit::OrbitState state;
    orbit::tick(state, window);
    orbit::tick(state, window);
    // Up (smaller top) and to the left.
    EXPECT_LT(window.moves[1].left, window.moves[0].left);
    EXPECT_LT(window.moves[1].top, window.moves[0].top);
}

TEST(Tick, FollowsTheWindowSizeAtEveryTick) {
    FakeWindow window(12000, 9000);
    orbit::OrbitState state;
    orbit::tick(state, window);
    window.width = 24000;
    window.height = 18000;
    state.t = 0;
    orbit::tick(state, window);
    EXPECT_EQ(window.moves[1].left, 24000 * 0.35 + 4000);
    EXPECT_EQ(window.moves[1].top, 18000 * 0.25);
}

// Sizes for which the Earth's corner stays inside the 10260 x 7260 box all
// the way round, and sizes that push it out on one side.
struct SizeCase {
    float width;
    float height;
    bool negativeLeft;
    bool negativeTop;
};

class OneRevolution : public testing::TestWithParam<SizeCase> {};

TEST_P(OneRevolution, KeepsTheCornerInsideTheBoxOrReportsTheClippedSide) {
    const SizeCase& c = GetParam();
    FakeWindow window(c.width, c.height);
    orbit::OrbitState state;
    for (int n = 0; n < 64; ++n)
        orbit::tick(state, window);
    ASSERT_EQ(window.moves.size(), 64u);
    float minLeft = std::numeric_limits<float>::max(), maxLeft = -minLeft;
    double minTop = std::numeric_limits<double>::max(), maxTop = -minTop;
    for (const auto& m : window.moves) {
        minLeft = std::min(minLeft, m.left);
        maxLeft = std::max(maxLeft, m.left);
        minTop = std::min(minTop, m.top);
        maxTop = std::max(maxTop, m.top);
    }
    EXPECT_EQ(minLeft < 0, c.negativeLeft);
    EXPECT_EQ(minTop < 0, c.negativeTop);
    if (!c.negativeLeft) {
        EXPECT_LE(maxLeft, 10260 - 735);
    }
    if (!c.negativeTop) {
        EXPECT_LE(maxTop, 7260 - 735);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, OneRevolution,
    testing::Values(SizeCase{11428.6f, 8000, false, false}, SizeCase{15785.7f, 18100, false, false},
                    SizeCase{11428.6f, 18100, false, false}, SizeCase{15785.7f, 8000, false, false},
                    SizeCase{12000, 9000, false, false},
                    SizeCase{13579.25f, 12345.5f, false, false},
                    // The stored client size: the Earth is mostly off to the left and top.
                    SizeCase{4680, 3195, true, true}, SizeCase{11000, 9000, true, false},
                    SizeCase{12000, 7900, false, true}, SizeCase{0, 0, true, true}),
    [](const auto& info) { return casenames::of(info.param.width, "x", info.param.height); });

// An error ends the tick where it is raised: values stored before it stay,
// nothing after it happens, and the angle does not advance.
struct FailureCase {
    const char* name;
    FakeWindow::Fail fail;
    float width;
    rt::ErrorNumber error;
    bool xStored;
    bool yStored;
};

class TickFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(TickFailure, EndsTheTickAtThatStep) {
    const FailureCase& c = GetParam();
    FakeWindow window(12000, 9000);
    orbit::OrbitState state;
    orbit::tick(state, window); // t = 0.1 now, x and y of tick 1 stored
    const orbit::OrbitState before = state;

    window.fail = c.fail;
    window.width = c.width;
    try {
        orbit::tick(state, window);
        FAIL() << "the tick did not raise";
    } catch (const rt::Error& e) {
        EXPECT_EQ(e.number(), c.error);
    }
    EXPECT_EQ(state.t, before.t);
    EXPECT_EQ(state.x != before.x, c.xStored);
    EXPECT_EQ(state.y != before.y, c.yStored);
    EXPECT_EQ(window.moves.size(), 1u);

    // The next tick goes on from the same angle.
    window.fail = FakeWindow::Fail::Never;
    window.width = 12000;
    orbit::tick(state, window);
    EXPECT_EQ(window.moves.back().left, 8180.0166015625f);
    EXPECT_EQ(state.t, 0.2);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, TickFailure,
    testing::Values(FailureCase{"Width", FakeWindow::Fail::Width, 12000, rt::ErrorNumber::Overflow,
                                false, false},
                    FailureCase{"Height", FakeWindow::Fail::Height, 12000,
                                rt::ErrorNumber::Overflow, true, false},
                    FailureCase{"Move", FakeWindow::Fail::Move, 12000, rt::ErrorNumber::Overflow,
                                true, true},
                    // A signalling NaN width makes the multiplication an invalid operation.
                    FailureCase{"SignallingNaN", FakeWindow::Fail::Never,
                                std::numeric_limits<float>::signaling_NaN(),
                                rt::ErrorNumber::InvalidFloatingPoint, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Tick, FloatingPointFlagsRaisedBeforeTheTickDoNotCount) {
    FakeWindow window(12000, 9000);
    orbit::OrbitState state;
    volatile double big = 1e308;
    volatile double overflowed = big * 10; // raises the overflow flag
    (void)overflowed;
    EXPECT_NO_THROW(orbit::tick(state, window));
    EXPECT_EQ(window.moves.size(), 1u);
}

TEST(Tick, InfiniteSizeGivesAnInfiniteCornerWithoutAnError) {
    // inf * 0.35 is exact, so no exception flag is raised.
    FakeWindow window(std::numeric_limits<float>::infinity(), 9000);
    orbit::OrbitState state;
    orbit::tick(state, window);
    ASSERT_EQ(window.moves.size(), 1u);
    EXPECT_TRUE(std::isinf(window.moves[0].left));
}

} // namespace
