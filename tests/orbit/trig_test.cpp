// The two ways of computing the orbit's sine and cosine give the same bits,
// angle by angle and tick by tick, and the program picks its way as documented.

#include "orbit/orbit.h"
#include "orbit/recorder.h"
#include "orbit/trig.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace {

std::uint64_t bits(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

// Restores the way in use when a test that switches it ends.
class TrigGuard {
public:
    TrigGuard()
        : m_saved(orbit::trigInUse()) {}
    ~TrigGuard() { orbit::useTrig(m_saved); }
    TrigGuard(const TrigGuard&) = delete;
    TrigGuard& operator=(const TrigGuard&) = delete;

private:
    orbit::Trig m_saved;
};

struct AngleRange {
    const char* name;
    int lowExponent; // angles of magnitude in [2^low, 2^high)
    int highExponent;
    int count;
};

class BothWays : public testing::TestWithParam<AngleRange> {};

TEST_P(BothWays, GiveTheSameBitsForRandomAngles) {
    TrigGuard guard;
    if (!orbit::useTrig(orbit::Trig::fast))
        GTEST_SKIP() << "this build or processor has no fast way";
    const AngleRange& range = GetParam();
    std::mt19937_64 random(20240613u + static_cast<unsigned>(range.lowExponent));
    std::uniform_int_distribution<int> exponent(range.lowExponent, range.highExponent - 1);
    int mismatches = 0;
    for (int n = 0; n < range.count; ++n) {
        // Every mantissa bit and the sign at random, the exponent in range.
        const std::uint64_t raw = random();
        const std::uint64_t pattern = (raw & 0x800f'ffff'ffff'ffffu) |
                                      static_cast<std::uint64_t>(exponent(random) + 1023) << 52;
        double t;
        std::memcpy(&t, &pattern, sizeof t);
        const double fastSin = orbit::orbitSin(t);
        const double fastCos = orbit::orbitCos(t);
        if (bits(fastSin) != bits(orbit::portableSin(t)) ||
            bits(fastCos) != bits(orbit::portableCos(t))) {
            if (++mismatches <= 5)
                ADD_FAILURE() << "angle " << std::hexfloat << t << ": fast sin " << fastSin
                              << " cos " << fastCos << ", portable sin " << orbit::portableSin(t)
                              << " cos " << orbit::portableCos(t);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Angles, BothWays,
    testing::Values(AngleRange{"Tiny", -1022, -26, 20000}, AngleRange{"BelowOne", -26, 0, 200000},
                    AngleRange{"OrbitAngles", 0, 20, 200000}, AngleRange{"Large", 20, 80, 50000},
                    AngleRange{"Huge", 80, 1024, 10000}),
    [](const testing::TestParamInfo<AngleRange>& info) { return std::string(info.param.name); });

TEST(BothWays, GiveTheSameBitsForZerosSubnormalsInfinitiesAndNaN) {
    TrigGuard guard;
    if (!orbit::useTrig(orbit::Trig::fast))
        GTEST_SKIP() << "this build or processor has no fast way";
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const double angles[] = {0.0,       -0.0, 0x1p-1074, -0x1p-1074, 0x1.2345p-1030,
                             0x1p-1022, inf,  -inf,      nan,        -nan};
    for (const double t : angles) {
        EXPECT_EQ(bits(orbit::orbitSin(t)), bits(orbit::portableSin(t))) << "sin " << t;
        EXPECT_EQ(bits(orbit::orbitCos(t)), bits(orbit::portableCos(t))) << "cos " << t;
    }
}

using testsupport::Recorder;

TEST(BothWays, MoveTheEarthToTheSamePositionsTickByTick) {
    TrigGuard guard;
    if (!orbit::useTrig(orbit::Trig::fast))
        GTEST_SKIP() << "this build or processor has no fast way";
    constexpr int ticks = 100'000;
    Recorder fastWindow(13031.25f, 8765.4321f);
    Recorder portableWindow(13031.25f, 8765.4321f);
    orbit::OrbitState fastState, portableState;
    for (int n = 1; n <= ticks; ++n) {
        orbit::useTrig(orbit::Trig::fast);
        orbit::tick(fastState, fastWindow);
        orbit::useTrig(orbit::Trig::portable);
        orbit::tick(portableState, portableWindow);
        ASSERT_EQ(bits(fastState.x), bits(portableState.x)) << "tick " << n;
        ASSERT_EQ(bits(fastWindow.top), bits(portableWindow.top)) << "tick " << n;
        ASSERT_EQ(fastWindow.left, portableWindow.left) << "tick " << n;
    }
}

struct Choice {
    const char* name;
    const char* environment; // ORBITALE_TRIG, or null for unset
    bool portable;           // true: portable whatever the processor
};

class WayInUse : public testing::TestWithParam<Choice> {};

// Sets or (with null) unsets an environment variable, on either system.
void setVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

// Each case runs in a fresh process: the way is chosen once, at first use.
TEST_P(WayInUse, FollowsTheEnvironmentAndTheProcessor) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Choice& choice = GetParam();
    const bool expectPortable = choice.portable || !orbit::fastTrigAvailable();
    EXPECT_EXIT(
        {
            setVariable("ORBITALE_TRIG", choice.environment);
            const bool portable = orbit::trigInUse() == orbit::Trig::portable;
            std::exit(portable ? 10 : 20);
        },
        testing::ExitedWithCode(expectPortable ? 10 : 20), "");
}

INSTANTIATE_TEST_SUITE_P(
    Choices, WayInUse,
    testing::Values(Choice{"Unset", nullptr, false}, Choice{"Portable", "portable", true},
                    Choice{"Fast", "fast", false}, Choice{"Unknown", "PORTABLE ", false}),
    [](const testing::TestParamInfo<Choice>& info) { return std::string(info.param.name); });

} // namespace
