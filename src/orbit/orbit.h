#pragma once

// The Earth's orbit: the per-window state and the tick that moves the Earth
// image one step along its ellipse. Plain C++: it knows its window only
// through OrbitWindow.

namespace orbit {

// What the tick needs from its window. Width and height are read separately,
// in the order the tick uses them, so that a failing read of the height still
// leaves the x of that tick stored.
class OrbitWindow {
public:
    // The window's outer size in twips, frame and title bar included.
    virtual float outerWidth() = 0;
    virtual float outerHeight() = 0;
    // Moves the Earth image; its size stays as it is.
    virtual void moveEarth(float left, double top) = 0;

protected:
    ~OrbitWindow() = default;
};

// One window's orbit. All three start at 0; t is never wrapped or reset.
struct OrbitState {
    double t = 0; // angle, radians, advanced by 0.1 per completed tick
    double x = 0; // last computed left edge of the image, twips
    double y = 0; // last computed top edge of the image, twips
};

inline constexpr short semiAxisA = 4000; // twips, across
inline constexpr short semiAxisB = 2000; // twips, up and down
inline constexpr double angleStep = 0.1;

// One step: places the image's top-left corner on the ellipse centred on
// (0.35 W, 0.25 H) at angle t, then advances t. Toolkit errors raised by the
// window (or the floating-point check) end the tick where they arise: what was
// stored before stays, and t is not advanced.
void tick(OrbitState& state, OrbitWindow& window);

// Correctly rounded sine and cosine, the ones the tick uses. Every machine
// computes the same positions with them, whichever way it computes them
// (orbit/trig.h).
double orbitSin(double t);
double orbitCos(double t);

} // namespace orbit
