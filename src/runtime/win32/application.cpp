// The start of the program on Windows: the system's controls in their own
// look, the start-up window, and the message loop with the dialog keys.

#include "runtime/application.h"

#include "runtime/form.h"
#include "runtime/registry.h"
#include "runtime/win32/widgets.h"

#include <commctrl.h>
#include <timeapi.h>

namespace rt {

int start(const ProjectDescriptor& project, int, char**) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The 100 ms ticks come on time to the millisecond rather than to the
    // system's usual 15.6 ms.
    timeBeginPeriod(1);
    int status = 0;
    {
        Registry registry(project.windows);
        project.startup().show();
        MSG message;
        BOOL got;
        while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
            if (got == -1)
                break;
            if (detail::dialogKey(message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        status = static_cast<int>(message.wParam);
    }
    timeEndPeriod(1);
    return status;
}

} // namespace rt
