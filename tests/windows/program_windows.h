#pragma once

// A test of the program's own windows: the window registry of the project,
// Form1 created and shown through its default instance, Form2 there once
// something has made it, and every error report caught instead of shown.

#include "app/project.h"
#include "runtime/registry.h"
#include "windows/form1.h"
#include "windows/form2.h"

#include "support/reports.h"

#include <gtest/gtest.h>

namespace testsupport {

struct ProgramWindows : testing::Test {
    Reports reports;
    rt::Registry registry{orbitale::project().windows};
    orbitale::Form1& form1 = []() -> orbitale::Form1& {
        orbitale::Form1& f = rt::defaultInstance<orbitale::Form1>();
        f.show();
        return f;
    }();
    orbitale::Form2* form2() { return static_cast<orbitale::Form2*>(registry.instance("Form2")); }
};

} // namespace testsupport
