#include "gui/qt/desktop_user.h"

#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder (not a link) owned by this user that nobody else may enter.
bool IsPrivateFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

std::string AbsoluteEnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? value : "";
}

} // namespace

std::string DesktopUserKey() {
    return std::to_string(::getuid());
}

std::optional<std::filesystem::path> PrivateRuntimeFolder() {
    if (const std::string runtime = AbsoluteEnvironmentValue("XDG_RUNTIME_DIR");
        !runtime.empty() && IsPrivateFolder(runtime)) {
        return runtime;
    }
    std::string temporary = AbsoluteEnvironmentValue("TMPDIR");
    if (temporary.empty()) {
        temporary = "/tmp";
    }
    const std::string folder = temporary + "/lumidex-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700); // an existing folder is checked like a new one
    if (IsPrivateFolder(folder)) {
        return folder;
    }
    return std::nullopt;
}

bool PeerIsThisUser(std::intptr_t socket) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::getuid();
}
