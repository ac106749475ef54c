#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// The port names held as the values' data under a registry key, in the
// registry's order. Returns nothing when the key cannot be opened for
// reading. A value whose data is not a string, or does not fit in 512
// bytes, is skipped; the enumeration stops at the first other error.
std::optional<std::vector<std::string>> ListPortsInRegistryKey(HKEY root, const wchar_t* subkey);

} // namespace lumidex
