// The decoding helper's confinement on Windows, from inside: the initial
// token the program lent its first thread, under which the system loaded it
// and its libraries were readied, dropped for good, leaving the process's
// own locked-down one; no code made at run time, no library loaded from a
// share or a low-integrity folder, no extension DLLs of the desktop, and a
// handle misused ends the process. The tokens and the job the program put
// it in do the rest (runtime/platform_windows.cpp).

#include "decoder/sandbox.h"

#include <windows.h>

namespace decoder {

bool confine(Confinement* got) {
    // A thread that still has a token of its own could open what the
    // program can: then nothing is decoded.
    HANDLE token = nullptr;
    if (!RevertToSelf())
        return false;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        CloseHandle(token);
        return false;
    }
    if (GetLastError() != ERROR_NO_TOKEN)
        return false;
    PROCESS_MITIGATION_DYNAMIC_CODE_POLICY dynamicCode{};
    dynamicCode.ProhibitDynamicCode = 1;
    PROCESS_MITIGATION_IMAGE_LOAD_POLICY images{};
    images.NoRemoteImages = 1;
    images.NoLowMandatoryLabelImages = 1;
    PROCESS_MITIGATION_EXTENSION_POINT_DISABLE_POLICY extensions{};
    extensions.DisableExtensionPoints = 1;
    PROCESS_MITIGATION_STRICT_HANDLE_CHECK_POLICY handles{};
    handles.RaiseExceptionOnInvalidHandleReference = 1;
    handles.HandleExceptionsPermanentlyEnabled = 1;
    // Each is what this Windows offers; an older one (or Wine) lacks some,
    // and the job's limits hold all the same.
    const bool all =
        SetProcessMitigationPolicy(ProcessDynamicCodePolicy, &dynamicCode, sizeof dynamicCode) &
        SetProcessMitigationPolicy(ProcessImageLoadPolicy, &images, sizeof images) &
        SetProcessMitigationPolicy(ProcessExtensionPointDisablePolicy, &extensions,
                                   sizeof extensions) &
        SetProcessMitigationPolicy(ProcessStrictHandleCheckPolicy, &handles, sizeof handles);
    if (got)
        got->filter = all;
    return true;
}

} // namespace decoder
