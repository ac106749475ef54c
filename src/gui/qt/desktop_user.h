#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// A short text that tells this desktop's user apart from every other user
// and session on the machine, for names that must be unique per desktop:
// the numeric user id on POSIX, the session number and the user's security
// identifier on Windows. Never empty; "unknown" when the system will not say.
std::string DesktopUserKey();

// Where the single-instance guard may put its local socket, a place no other
// user can plant a name in: $XDG_RUNTIME_DIR when it is a folder of this
// user's own that no other user can enter, otherwise the folder
// "lumidex-<uid>" in the temporary folder, made on first use with the same
// rights and used only when it has them (not a link, owned by this user, no
// access for others). An empty path where the platform's local names are
// private to the session already (Windows); nothing when no such folder can
// be had.
std::optional<std::filesystem::path> PrivateRuntimeFolder();

// True when the program at the other end of the connected local socket runs
// as this user (always true where the platform keeps local names per user).
bool PeerIsThisUser(std::intptr_t socket);
