#pragma once

// The two tokens a decoding helper runs under, in the shape Windows
// sandboxes use, since Windows fixes a process's token when it creates it:
// the process is created with the locked-down one, and its first thread
// borrows the initial one while the system loads it and the helper readies
// its libraries, then drops it for good before it reads a byte of the
// picture (decoder/sandbox_windows.cpp).

#include "runtime/win32/handle.h"

#include <vector>

namespace rt::detail {

struct HelperTokens {
    // The process's own: every group of the user's only to deny access, no
    // group to grant it but the null SID, no privilege to speak of, low
    // integrity. With it a process opens no file, key or object of anyone's.
    Handle lockdown;
    // Lent to the first thread: the user's groups restricted to themselves,
    // no privileges, low integrity; an impersonation token.
    Handle initial;
};

// Both tokens, made from the program's own; empty handles where the system
// refused one (GetLastError says why).
HelperTokens helperTokens();

// What GetTokenInformation tells of a token; empty where it tells nothing.
std::vector<char> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what);

} // namespace rt::detail
