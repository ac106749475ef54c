#pragma once

#include <optional>
#include <string>
#include <sys/stat.h>

namespace lumidex {

// Why a user other than the running one or root could change this file,
// folder or link (as lstat or fstat described it, `shown` naming it in the
// reason); nothing when none could. A link's own mode means nothing, and a
// sticky folder lets others add names but not rename or remove ours. A
// group's write permission counts only when the group is not the running
// user's private one.
std::optional<std::string> OthersCouldChange(const struct stat& info, const std::string& shown);

} // namespace lumidex
