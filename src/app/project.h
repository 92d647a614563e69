#pragma once

#include "runtime/application.h"

namespace orbitale {

// What the entry point hands to the toolkit: the start-up window, the
// windows of the program, its name, version and locale.
const rt::ProjectDescriptor& project();

} // namespace orbitale
