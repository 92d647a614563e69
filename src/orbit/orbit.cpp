#include "orbit/orbit.h"

#include "runtime/fpu.h"

namespace orbit {

namespace {

// Keeps the compiler from moving floating-point work across the status
// clear and check around it.
template <typename T> inline void fence(T& value) {
    asm volatile("" : "+x"(value)::"memory");
}

// A window size in twips times its centre factor, in double precision, with
// the floating-point status examined for this multiplication alone.
double centre(float size, double factor) {
    rt::clearFloatingPointStatus();
    fence(size);
    double product = static_cast<double>(size) * factor;
    fence(product);
    rt::checkFloatingPoint();
    return product;
}

} // namespace

void tick(OrbitState& state, OrbitWindow& window) {
    const double a = semiAxisA;
    const double b = semiAxisB;

    const double cx = centre(window.outerWidth(), 0.35);
    state.x = a * orbitCos(state.t) + cx;

    const double cy = centre(window.outerHeight(), 0.25);
    state.y = cy - b * orbitSin(state.t);

    window.moveEarth(static_cast<float>(state.x), state.y);
    state.t = state.t + angleStep;
}

} // namespace orbit
