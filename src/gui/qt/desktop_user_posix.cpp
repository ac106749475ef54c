#include "gui/qt/desktop_user.h"

#include <unistd.h>

std::string DesktopUserKey() {
    return std::to_string(::getuid());
}
