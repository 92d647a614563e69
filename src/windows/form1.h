#pragma once

#include "windows/earth_form.h"

namespace orbitale {

// The start-up window: the Earth over outer space or a blue sky.
class Form1 : public EarthForm {
public:
    static constexpr std::string_view windowName = "Form1";
    Form1();
};

} // namespace orbitale
