#pragma once

// A stand-in window of a fixed outer size that keeps where the tick last
// moved the Earth.

#include "orbit/orbit.h"

namespace testsupport {

struct Recorder final : orbit::OrbitWindow {
    float width, height;
    float left = 0;
    double top = 0;
    Recorder(float w, float h)
        : width(w)
        , height(h) {}
    float outerWidth() override { return width; }
    float outerHeight() override { return height; }
    void moveEarth(float l, double t) override {
        left = l;
        top = t;
    }
};

} // namespace testsupport
