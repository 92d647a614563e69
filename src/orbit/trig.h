#pragma once

// The two ways the orbit computes its correctly rounded sine and cosine. Both
// give the same bits for every angle; they differ only in what they ask of the
// processor and in speed.
//
//  - fast: LLVM's C library sin and cos, whose machine code uses AVX and FMA
//    instructions. Chosen where the build has them and the processor runs them.
//  - portable: MPFR at double precision, rounded to nearest; any processor.
//
// Setting ORBITALE_TRIG=portable in the environment makes the program use the
// portable way even where the fast one would run.

namespace orbit {

enum class Trig { fast, portable };

// Whether this build carries the fast way and this processor can run it.
bool fastTrigAvailable();

// The way orbitSin and orbitCos use now.
Trig trigInUse();

// Makes orbitSin and orbitCos use the given way from now on. Asking for the
// fast way where it is not available changes nothing and returns false.
bool useTrig(Trig way);

// The portable way, callable directly whatever way is in use.
double portableSin(double t);
double portableCos(double t);

} // namespace orbit
