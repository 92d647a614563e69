#pragma once

#include "windows/earth_form.h"

namespace orbitale {

// The second window: the capital and the park.
class Form2 : public EarthForm {
public:
    static constexpr std::string_view windowName = "Form2";
    Form2();
};

} // namespace orbitale
