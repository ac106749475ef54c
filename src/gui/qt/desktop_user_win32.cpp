#include "gui/qt/desktop_user.h"

#include <windows.h>
// after windows.h, which it needs
#include <sddl.h>

#include <vector>

namespace {

// The security identifier of the user this program runs as, as text
// ("S-1-5-21-..."); empty when it cannot be read.
std::string UserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    std::string sid;
    char* text = nullptr;
    if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = text;
        ::LocalFree(text);
    }
    ::CloseHandle(token);
    return sid;
}

} // namespace

std::string DesktopUserKey() {
    // Local servers are named pipes, which every session of the machine
    // shares: the session number keeps two desktops of one user apart.
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    const std::string sid = UserSid();
    return std::to_string(session) + "-" + (sid.empty() ? "unknown" : sid);
}

std::optional<std::filesystem::path> PrivateRuntimeFolder() {
    return std::filesystem::path(); // local server names are pipes of this session
}

bool PeerIsThisUser(std::intptr_t) {
    return true;
}
