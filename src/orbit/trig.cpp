#include "orbit/trig.h"

#include "orbit/orbit.h"

#include <mpfr.h>

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

struct Way {
    double (*sin)(double);
    double (*cos)(double);
    Trig trig;
};

constexpr Way portableWay{portableSin, portableCos, Trig::portable};

#if ORBITALE_FAST_TRIG
constexpr Way fastWay{orbitale_cr_sin, orbitale_cr_cos, Trig::fast};

bool forcedPortable() {
    const char* value = std::getenv("ORBITALE_TRIG");
    return value != nullptr && std::string_view(value) == "portable";
}
#endif

Way initialWay() {
#if ORBITALE_FAST_TRIG
    if (fastTrigAvailable() && !forcedPortable())
        return fastWay;
#endif
    return portableWay;
}

Way& current() {
    static Way way = initialWay();
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
    return current().trig;
}

bool useTrig(Trig way) {
    if (way == Trig::portable) {
        current() = portableWay;
        return true;
    }
#if ORBITALE_FAST_TRIG
    if (fastTrigAvailable()) {
        current() = fastWay;
        return true;
    }
#endif
    return false;
}

double portableSin(double t) {
    return viaMpfr<mpfr_sin>(t);
}

double portableCos(double t) {
    return viaMpfr<mpfr_cos>(t);
}

double orbitSin(double t) {
    return current().sin(t);
}

double orbitCos(double t) {
    return current().cos(t);
}

} // namespace orbit
