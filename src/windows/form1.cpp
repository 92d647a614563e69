#include "windows/form1.h"

#include "runtime/handler.h"
#include "runtime/registry.h"
#include "windows/form2.h"
#include "windows/layouts.h"

namespace orbitale {

using rt::defaultInstance;
using rt::loadPicture;

Form1::Form1()
    : EarthForm(form1Layout) {
    onLoad([this] { imgEarth().setPicture(loadPicture("E:\\VB\\dq3.gif")); });

    onClick("CmdYjtk", [this] { picture1().setPicture(loadPicture("E:\\VB\\xxgdt.jpg")); });
    onClick("CmdLtby", [this] { picture1().setPicture(loadPicture("E:\\VB\\ltby1.jpg")); });

    // Hides itself first; the first switch creates Form2 (and loads its Earth).
    onClick([] {
        defaultInstance<Form1>().hide();
        defaultInstance<Form2>().show();
    });

    onClick("CmdExit", [] { rt::endProgram(); });
}

} // namespace orbitale
