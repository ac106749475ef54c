#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace lumidex {

// What the bridge reads a file for: its configuration (the boards file, the
// broker's CA), a secret (the broker password), or a secret systemd handed
// over (LoadCredential=), which systemd may let the service's user read
// through an access list that shows as its group's permission.
enum class FileUse { Configuration, Secret, Credential };

// Why the bridge must not take this file, or nothing when it may. A file is
// refused, whoever runs the bridge, when a user other than the running one
// or root could have changed it: it, a link on its way or a folder holding
// either belongs to another user, or can be written by every user or by a
// group that is not the running user's own (a sticky folder such as /tmp
// lets no one replace another's file). A secret is also refused when its
// group or every user may read it (a credential only when every user may).
// A file that cannot be looked at at all is left to the reader, which says
// why it cannot read it.
std::optional<std::string> UntrustedFileReason(const std::filesystem::path& file, FileUse use);

} // namespace lumidex
