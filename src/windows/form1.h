#pragma once

#include "windows/earth_form.h"

namespace orbitale {

// The start-up window: outer space and blue sky.
class Form1 : public EarthForm {
public:
    static constexpr std::string_view windowName = "Form1";
    Form1();
};

} // namespace orbitale
