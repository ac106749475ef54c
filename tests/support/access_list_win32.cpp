#include "tests/support/access_list_win32.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace lumidex::test {

bool RunsElevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool read =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    ::CloseHandle(token);
    return read && elevation.TokenIsElevated != 0;
}

bool OpenToEveryone(const std::filesystem::path& path) {
    PSID everyone = nullptr;
    if (!::ConvertStringSidToSidW(L"S-1-1-0", &everyone)) {
        return false;
    }
    EXPLICIT_ACCESSW entry{};
    entry.grfAccessPermissions = 0x001301BF; // Modify
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL list = nullptr;
    const bool opened = ::SetEntriesInAclW(1, &entry, nullptr, &list) == ERROR_SUCCESS &&
                        ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION, nullptr, nullptr, list,
                                                nullptr) == ERROR_SUCCESS;
    ::LocalFree(list);
    ::LocalFree(everyone);
    return opened;
}

} // namespace lumidex::test
