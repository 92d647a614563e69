#include "runtime/fpu.h"

#include "runtime/error.h"

#include <cfenv>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#define ORBITALE_SSE_STATUS 1
#endif

namespace rt {

#ifdef ORBITALE_SSE_STATUS
// On x86-64 double arithmetic runs on SSE alone, so its status register is
// the whole story. Reading it is cheap; the slower write happens only when
// one of the three watched flags is actually set. (glibc's feclearexcept
// also reloads the x87 environment: ten times the cost of the tick itself.)
namespace {
constexpr unsigned invalidBit = 0x01;
constexpr unsigned divideByZeroBit = 0x04;
constexpr unsigned overflowBit = 0x08;
constexpr unsigned watched = invalidBit | divideByZeroBit | overflowBit;

unsigned watchedFlags() {
    return _mm_getcsr() & watched;
}

void clearWatched() {
    const unsigned csr = _mm_getcsr();
    if (csr & watched)
        _mm_setcsr(csr & ~watched);
}
} // namespace

void clearFloatingPointStatus() {
    clearWatched();
}

void checkFloatingPoint() {
    const unsigned raised = watchedFlags();
    if (raised == 0)
        return;
    clearWatched();
    if (raised & invalidBit)
        throw Error(ErrorNumber::InvalidFloatingPoint);
    if (raised & divideByZeroBit)
        throw Error(ErrorNumber::DivisionByZero);
    throw Error(ErrorNumber::Overflow);
}

#else

void clearFloatingPointStatus() {
    std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
}

void checkFloatingPoint() {
    const int raised = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    if (raised == 0)
        return;
    std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    if (raised & FE_INVALID)
        throw Error(ErrorNumber::InvalidFloatingPoint);
    if (raised & FE_DIVBYZERO)
        throw Error(ErrorNumber::DivisionByZero);
    throw Error(ErrorNumber::Overflow);
}

#endif

} // namespace rt
