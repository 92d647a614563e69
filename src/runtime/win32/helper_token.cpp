#include "runtime/win32/helper_token.h"

#include <sddl.h>

#include <memory>

namespace rt::detail {

namespace {

struct SidFree {
    void operator()(void* sid) const { LocalFree(sid); }
};

bool lowIntegrity(HANDLE token) {
    PSID raw = nullptr;
    if (!ConvertStringSidToSidW(L"S-1-16-4096", &raw))
        return false;
    const std::unique_ptr<void, SidFree> low(raw);
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Sid = low.get();
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    return SetTokenInformation(token, TokenIntegrityLevel, &label,
                               sizeof label + GetLengthSid(low.get())) != 0;
}

// Every group of the token but its integrity level, which cannot be one.
std::vector<SID_AND_ATTRIBUTES> groupsOf(const std::vector<char>& groups) {
    std::vector<SID_AND_ATTRIBUTES> sids;
    if (groups.empty())
        return sids;
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
    for (DWORD i = 0; i < list->GroupCount; ++i)
        if (!(list->Groups[i].Attributes & SE_GROUP_INTEGRITY))
            sids.push_back({list->Groups[i].Sid, 0});
    return sids;
}

// Every privilege of the token but traversing folders, which every process
// has and the system's own loader needs.
std::vector<LUID_AND_ATTRIBUTES> privilegesOf(const std::vector<char>& privileges) {
    std::vector<LUID_AND_ATTRIBUTES> luids;
    LUID traverse{};
    if (privileges.empty() ||
        !LookupPrivilegeValueW(nullptr, L"SeChangeNotifyPrivilege", &traverse))
        return luids;
    const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(privileges.data());
    for (DWORD i = 0; i < list->PrivilegeCount; ++i) {
        const LUID luid = list->Privileges[i].Luid;
        if (luid.LowPart != traverse.LowPart || luid.HighPart != traverse.HighPart)
            luids.push_back({luid, 0});
    }
    return luids;
}

} // namespace

std::vector<char> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<char> buffer(size);
    if (size == 0 || !GetTokenInformation(token, what, buffer.data(), size, &size))
        buffer.clear();
    return buffer;
}

HelperTokens helperTokens() {
    HelperTokens tokens;
    HANDLE raw = nullptr;
    if (!OpenProcessToken(
            GetCurrentProcess(),
            TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT, &raw))
        return tokens;
    const Handle own(raw);
    const std::vector<char> user = tokenInformation(own.get(), TokenUser);
    const std::vector<char> groups = tokenInformation(own.get(), TokenGroups);
    if (user.empty() || groups.empty())
        return tokens;
    // Named one by one as well: not every system takes the flag alone.
    std::vector<LUID_AND_ATTRIBUTES> privileges =
        privilegesOf(tokenInformation(own.get(), TokenPrivileges));
    const auto deleted = static_cast<DWORD>(privileges.size());
    std::vector<SID_AND_ATTRIBUTES> sids = groupsOf(groups);
    sids.push_back({reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, 0});

    PSID null = nullptr;
    SID_IDENTIFIER_AUTHORITY nobody = SECURITY_NULL_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&nobody, 1, SECURITY_NULL_RID, 0, 0, 0, 0, 0, 0, 0, &null))
        return tokens;
    SID_AND_ATTRIBUTES onlyNull{null, 0};
    HANDLE lockdown = nullptr;
    const bool locked =
        CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, static_cast<DWORD>(sids.size()),
                              sids.data(), deleted, privileges.data(), 1, &onlyNull, &lockdown);
    FreeSid(null);
    if (!locked)
        return tokens;
    Handle lockedDown(lockdown);

    // The same groups restricting themselves: what the user may open, the
    // thread may, while the system loads the helper's image and libraries.
    HANDLE initial = nullptr;
    if (!CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 0, nullptr, deleted,
                               privileges.data(), static_cast<DWORD>(sids.size()), sids.data(),
                               &initial))
        return tokens;
    const Handle primary(initial);
    HANDLE impersonation = nullptr;
    // A thread may borrow no higher integrity than its process has: both low.
    if (!lowIntegrity(lockedDown.get()) || !lowIntegrity(primary.get()) ||
        !DuplicateTokenEx(primary.get(), TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr,
                          SecurityImpersonation, TokenImpersonation, &impersonation))
        return tokens;
    tokens.lockdown = std::move(lockedDown);
    tokens.initial.reset(impersonation);
    return tokens;
}

} // namespace rt::detail
