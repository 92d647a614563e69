#pragma once

#include "windows/earth_form.h"

namespace orbitale {

// The second window: the Earth over the capital Beijing or a park.
class Form2 : public EarthForm {
public:
    static constexpr std::string_view windowName = "Form2";
    Form2();
};

} // namespace orbitale
