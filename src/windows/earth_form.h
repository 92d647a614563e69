#pragma once

// What both windows share: the Earth on its orbit, moved by Timer1.

#include "orbit/orbit.h"
#include "runtime/form.h"

namespace orbitale {

class EarthForm : public rt::Form, private orbit::OrbitWindow {
public:
    const orbit::OrbitState& orbitState() const { return m_orbit; }

    rt::PictureBox picture1() const { return pictureBox("Picture1"); }
    rt::Image imgEarth() const { return image("ImgEarth"); }

    // Timer1's handler: one step of the Earth along its orbit.
    void timer1Timer() { orbit::tick(m_orbit, *this); }

protected:
    explicit EarthForm(const rt::FormLayout& layout);

private:
    float outerWidth() override { return width(); }
    float outerHeight() override { return height(); }
    void moveEarth(float left, double top) override { imgEarth().move(left, top); }

    orbit::OrbitState m_orbit;
};

} // namespace orbitale
