#include "orbit/trig.h"

#include "orbit/orbit.h"

#include <mpfr.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <string_view>

#if ORBITALE_FAST_TRIG
extern "C" {
// LLVM's C library sin and cos, renamed at build time so that only the orbit
// calls them and the rest of the process keeps the system's.
double orbitale_cr_sin(double);
double orbitale_cr_cos(double);
}
#endif

namespace orbit {

namespace {

// MPFR numbers at the precision of a double, made once per thread: the tick
// runs on one thread and should not allocate at every step.
struct Scratch {
    mpfr_t x;
    mpfr_t y;
    Scratch() {
        mpfr_init2(x, 53);
        mpfr_init2(y, 53);
    }
    ~Scratch() {
        mpfr_clear(x);
        mpfr_clear(y);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// A double holds exactly in 53 bits, MPFR rounds the function's value once to
// 53 bits, and that value converts back exactly: the result is the correctly
// rounded one. (A subnormal result would be rounded twice, but sine and cosine
// give one only for a subnormal angle, where the sine rounds to the angle
// itself either way.)
// An infinite or NaN angle gives the positive quiet NaN, as the fast way does.
template <int (*function)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t)> double viaMpfr(double t) {
    thread_local Scratch scratch;
    mpfr_set_d(scratch.x, t, MPFR_RNDN);
    function(scratch.y, scratch.x, MPFR_RNDN);
    if (mpfr_nan_p(scratch.y))
        return std::numeric_limits<double>::quiet_NaN();
    return mpfr_get_d(scratch.y, MPFR_RNDN);
}

#if ORBITALE_FAST_TRIG
bool forcedPortable() {
    const char* value = std::getenv("ORBITALE_TRIG");
    return value != nullptr && std::string_view(value) == "portable";
}
#endif

// The way in use, chosen at the first call. Read at every tick: one load and
// a direct call, no more.
enum class Choice : unsigned char { notYet, fast, portable };
std::atomic<Choice> chosen{Choice::notYet};

Choice choice() {
    Choice way = chosen.load(std::memory_order_relaxed);
    if (way == Choice::notYet) {
#if ORBITALE_FAST_TRIG
        way = fastTrigAvailable() && !forcedPortable() ? Choice::fast : Choice::portable;
#else
        way = Choice::portable;
#endif
        chosen.store(way, std::memory_order_relaxed);
    }
    return way;
}

} // namespace

bool fastTrigAvailable() {
#if ORBITALE_FAST_TRIG
    // Exactly the extensions LLVM's objects use (VEX-encoded SSE and AVX,
    // FMA3); the check also covers the system's saving of the AVX registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

Trig trigInUse() {
    return choice() == Choice::fast ? Trig::fast : Trig::portable;
}

bool useTrig(Trig way) {
    if (way == Trig::fast && !fastTrigAvailable())
        return false;
    chosen.store(way == Trig::fast ? Choice::fast : Choice::portable, std::memory_order_relaxed);
    return true;
}

double portableSin(double t) {
    return viaMpfr<mpfr_sin>(t);
}

double portableCos(double t) {
    return viaMpfr<mpfr_cos>(t);
}

double orbitSin(double t) {
#if ORBITALE_FAST_TRIG
    if (choice() == Choice::fast)
        return orbitale_cr_sin(t);
#endif
    return portableSin(t);
}

double orbitCos(double t) {
#if ORBITALE_FAST_TRIG
    if (choice() == Choice::fast)
        return orbitale_cr_cos(t);
#endif
    return portableCos(t);
}

} // namespace orbit
