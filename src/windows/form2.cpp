#include "windows/form2.h"

#include "windows/layouts.h"

namespace orbitale {

Form2::Form2()
    : EarthForm(form2Layout) {}

} // namespace orbitale
