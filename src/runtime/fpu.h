#pragma once

// The floating-point status check the tick makes after each multiplication.
// Plain C++ so that the orbit can use it without the rest of the toolkit.

namespace rt {

// Forgets any floating-point exception raised so far.
void clearFloatingPointStatus();

// Raises the toolkit's floating-point error (Overflow, DivisionByZero or
// InvalidFloatingPoint) if any of those exceptions was raised since the last
// clear; does nothing otherwise.
void checkFloatingPoint();

} // namespace rt
