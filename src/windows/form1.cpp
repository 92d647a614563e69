#include "windows/form1.h"

#include "windows/layouts.h"

namespace orbitale {

Form1::Form1()
    : EarthForm(form1Layout) {}

} // namespace orbitale
