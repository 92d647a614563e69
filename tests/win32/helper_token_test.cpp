// The tokens the decoding helper is started under: what each one lets a
// process do. Wine keeps every token at the level of its maker, marks no
// user SID as denying and tells no restricting SIDs, so those rows hold
// only on Windows itself.

#include "runtime/win32/helper_token.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using rt::detail::HelperTokens;

bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Empty where the system does not tell.
std::vector<char> information(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<char> buffer(size);
    if (size == 0 || !GetTokenInformation(token, what, buffer.data(), size, &size))
        buffer.clear();
    return buffer;
}

std::string sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return "?";
    std::string out(text, text + wcslen(text));
    LocalFree(text);
    return out;
}

template <typename T> const T& as(const std::vector<char>& bytes) {
    return *reinterpret_cast<const T*>(bytes.data());
}

// Where Wine keeps less than Windows, the row holds on Windows alone.
#define WINDOWS_ONLY(what)                                                                         \
    do {                                                                                           \
        if (underWine())                                                                           \
            GTEST_SKIP() << "Wine does not keep " what;                                            \
    } while (false)

#define TOLD(bytes, what) ASSERT_FALSE((bytes).empty()) << "the system tells no " what

// Every group only denies access; none grants it.
void deniesEveryGroup(HANDLE token) {
    const auto groups = information(token, TokenGroups);
    TOLD(groups, "groups");
    const auto& list = as<TOKEN_GROUPS>(groups);
    ASSERT_GT(list.GroupCount, 0u);
    for (DWORD i = 0; i < list.GroupCount; ++i) {
        if (!(list.Groups[i].Attributes & SE_GROUP_INTEGRITY)) {
            EXPECT_TRUE(list.Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY)
                << sidText(list.Groups[i].Sid);
        }
    }
}

void deniesTheUser(HANDLE token) {
    WINDOWS_ONLY("a user SID that only denies");
    const auto user = information(token, TokenUser);
    TOLD(user, "user");
    EXPECT_TRUE(as<TOKEN_USER>(user).User.Attributes & SE_GROUP_USE_FOR_DENY_ONLY);
}

std::vector<std::string> restrictingSids(HANDLE token) {
    const auto sids = information(token, TokenRestrictedSids);
    std::vector<std::string> out;
    if (sids.empty())
        return out;
    const auto& list = as<TOKEN_GROUPS>(sids);
    for (DWORD i = 0; i < list.GroupCount; ++i)
        out.push_back(sidText(list.Groups[i].Sid));
    return out;
}

void grantsOnlyTheNullSid(HANDLE token) {
    WINDOWS_ONLY("restricting SIDs");
    EXPECT_EQ(restrictingSids(token), std::vector<std::string>{"S-1-0-0"});
}

// The initial token opens what the user can, and no more: the user is
// among its restricting SIDs, the null SID is not.
void restrictedToTheUser(HANDLE token) {
    WINDOWS_ONLY("restricting SIDs");
    const auto user = information(token, TokenUser);
    const auto sids = restrictingSids(token);
    EXPECT_NE(std::find(sids.begin(), sids.end(), sidText(as<TOKEN_USER>(user).User.Sid)),
              sids.end());
    EXPECT_EQ(std::find(sids.begin(), sids.end(), "S-1-0-0"), sids.end());
}

void noPrivilegeButTraverse(HANDLE token) {
    const auto privileges = information(token, TokenPrivileges);
    TOLD(privileges, "privileges");
    const auto& list = as<TOKEN_PRIVILEGES>(privileges);
    LUID traverse{};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeChangeNotifyPrivilege", &traverse));
    for (DWORD i = 0; i < list.PrivilegeCount; ++i)
        EXPECT_TRUE(list.Privileges[i].Luid.LowPart == traverse.LowPart &&
                    list.Privileges[i].Luid.HighPart == traverse.HighPart)
            << "privilege " << list.Privileges[i].Luid.LowPart;
}

void lentAsImpersonation(HANDLE token) {
    TOLD(information(token, TokenType), "token type");
    EXPECT_EQ(as<TOKEN_TYPE>(information(token, TokenType)), TokenImpersonation);
    EXPECT_EQ(as<SECURITY_IMPERSONATION_LEVEL>(information(token, TokenImpersonationLevel)),
              SecurityImpersonation);
}

void lowIntegrity(HANDLE token) {
    WINDOWS_ONLY("a token's integrity level lower than its maker's");
    const auto label = information(token, TokenIntegrityLevel);
    TOLD(label, "integrity level");
    EXPECT_EQ(sidText(as<TOKEN_MANDATORY_LABEL>(label).Label.Sid), "S-1-16-4096");
}

struct Case {
    const char* name;
    bool lockdown; // which token: the process's own, or the one lent
    std::function<void(HANDLE)> holds;
};

class HelperToken : public testing::TestWithParam<Case> {};

TEST_P(HelperToken, Holds) {
    const HelperTokens tokens = rt::detail::helperTokens();
    ASSERT_TRUE(tokens.lockdown.get() && tokens.initial.get()) << "error " << GetLastError();
    GetParam().holds(GetParam().lockdown ? tokens.lockdown.get() : tokens.initial.get());
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, HelperToken,
    testing::Values(Case{"LockdownDeniesEveryGroup", true, deniesEveryGroup},
                    Case{"LockdownDeniesTheUser", true, deniesTheUser},
                    Case{"LockdownGrantsOnlyTheNullSid", true, grantsOnlyTheNullSid},
                    Case{"LockdownHasNoPrivilegeButTraverse", true, noPrivilegeButTraverse},
                    Case{"LockdownIsLowIntegrity", true, lowIntegrity},
                    Case{"InitialIsRestrictedToTheUser", false, restrictedToTheUser},
                    Case{"InitialHasNoPrivilegeButTraverse", false, noPrivilegeButTraverse},
                    Case{"InitialIsLentAsImpersonation", false, lentAsImpersonation},
                    Case{"InitialIsLowIntegrity", false, lowIntegrity}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
