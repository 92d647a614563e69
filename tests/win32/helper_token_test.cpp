// The tokens the decoding helper is started under: what each one lets a
// process do. Wine keeps every token at its maker's integrity level, marks
// no user SID as denying and tells no restricting SIDs: those rows hold on
// Windows alone.

#include "runtime/win32/helper_token.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using rt::detail::tokenInformation;

template <typename T> T as(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    const std::vector<char> bytes = tokenInformation(token, what);
    return bytes.empty() ? T{} : *reinterpret_cast<const T*>(bytes.data());
}

std::string sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text))
        return "?";
    std::string out(text, text + wcslen(text));
    LocalFree(text);
    return out;
}

// A token's groups (or restricting SIDs) as "SID:attributes " each, in order.
std::string groups(HANDLE token, TOKEN_INFORMATION_CLASS what, DWORD attributes) {
    const std::vector<char> bytes = tokenInformation(token, what);
    std::string out;
    if (bytes.empty())
        return "none";
    const auto& list = *reinterpret_cast<const TOKEN_GROUPS*>(bytes.data());
    for (DWORD i = 0; i < list.GroupCount; ++i)
        if (!(list.Groups[i].Attributes & SE_GROUP_INTEGRITY))
            out += sidText(list.Groups[i].Sid) +
                   ((list.Groups[i].Attributes & attributes) ? "+ " : "- ");
    return out;
}

std::string everyGroupDenies(HANDLE token) {
    const std::string all = groups(token, TokenGroups, SE_GROUP_USE_FOR_DENY_ONLY);
    return all.find("- ") == std::string::npos && !all.empty() ? "yes" : all;
}

std::string privileges(HANDLE token) {
    const std::vector<char> bytes = tokenInformation(token, TokenPrivileges);
    std::string out;
    const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(bytes.data());
    for (DWORD i = 0; !bytes.empty() && i < list->PrivilegeCount; ++i) {
        wchar_t name[64];
        DWORD n = 64;
        LUID luid = list->Privileges[i].Luid;
        if (LookupPrivilegeNameW(nullptr, &luid, name, &n))
            out += std::string(name, name + n) + " ";
    }
    return out;
}

std::string integrity(HANDLE token) {
    const std::vector<char> bytes = tokenInformation(token, TokenIntegrityLevel);
    return bytes.empty()
               ? "?"
               : sidText(reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(bytes.data())->Label.Sid);
}

struct Case {
    const char* name;
    bool lockdown;    // the process's own token, or the one lent its first thread
    bool windowsOnly; // what Wine does not keep
    std::function<std::string(HANDLE)> seen;
    std::string expected;
};

class HelperToken : public testing::TestWithParam<Case> {};

TEST_P(HelperToken, Holds) {
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
    if (GetParam().windowsOnly && wine)
        GTEST_SKIP() << "Wine does not keep this";
    const rt::detail::HelperTokens tokens = rt::detail::helperTokens();
    ASSERT_TRUE(tokens.lockdown.get() && tokens.initial.get()) << "error " << GetLastError();
    const HANDLE token = GetParam().lockdown ? tokens.lockdown.get() : tokens.initial.get();
    EXPECT_EQ(GetParam().seen(token), GetParam().expected);
}

std::string userDenies(HANDLE token) {
    return (as<TOKEN_USER>(token, TokenUser).User.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) ? "yes"
                                                                                           : "no";
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, HelperToken,
    testing::Values(Case{"LockdownDeniesEveryGroup", true, false, everyGroupDenies, "yes"},
                    Case{"LockdownDeniesTheUser", true, true, userDenies, "yes"},
                    Case{"LockdownGrantsOnlyTheNullSid", true, true,
                         [](HANDLE t) { return groups(t, TokenRestrictedSids, 0); }, "S-1-0-0- "},
                    Case{"LockdownHasNoPrivilegeButTraverse", true, false, privileges,
                         "SeChangeNotifyPrivilege "},
                    Case{"LockdownIsLowIntegrity", true, true, integrity, "S-1-16-4096"},
                    Case{"InitialHasNoPrivilegeButTraverse", false, false, privileges,
                         "SeChangeNotifyPrivilege "},
                    Case{"InitialIsLentAsImpersonation", false, false,
                         [](HANDLE t) {
                             return std::to_string(as<TOKEN_TYPE>(t, TokenType)) + " " +
                                    std::to_string(as<SECURITY_IMPERSONATION_LEVEL>(
                                        t, TokenImpersonationLevel));
                         },
                         std::to_string(TokenImpersonation) + " " +
                             std::to_string(SecurityImpersonation)},
                    Case{"InitialIsLowIntegrity", false, true, integrity, "S-1-16-4096"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
