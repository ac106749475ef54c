#pragma once

#include <string>

// A short text that tells this desktop's user apart from every other user
// and session on the machine, for names that must be unique per desktop:
// the numeric user id on POSIX, the session number and the user's security
// identifier on Windows. Never empty; "unknown" when the system will not say.
std::string DesktopUserKey();
