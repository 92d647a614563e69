#include "windows/earth_form.h"

namespace orbitale {

EarthForm::EarthForm(const rt::FormLayout& layout)
    : rt::Form(layout) {
    onTimer("Timer1", [this] { timer1Timer(); });
}

} // namespace orbitale
