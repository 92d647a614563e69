#include "windows/form2.h"

#include "runtime/handler.h"
#include "runtime/registry.h"
#include "windows/form1.h"
#include "windows/layouts.h"

namespace orbitale {

using rt::defaultInstance;
using rt::loadPicture;

Form2::Form2()
    : EarthForm(form2Layout) {
    onLoad([this] { imgEarth().setPicture(loadPicture("E:\\VB\\dq4.gif")); });

    onClick("CmdSdbj", [this] { picture1().setPicture(loadPicture("E:\\VB\\bjtam.jpg")); });
    onClick("CmdGyfg", [this] { picture1().setPicture(loadPicture("E:\\VB\\qdh_nr.jpg")); });

    // Shows Form1 before hiding itself, so a window is always on screen.
    onClick([] {
        defaultInstance<Form1>().show();
        defaultInstance<Form2>().hide();
    });

    onClick("CmdExit", [] { rt::endProgram(); });
}

} // namespace orbitale
