#pragma once

// The two primitives the HTTP door's passwords and sessions need, from the
// system's well-kept implementations: OpenSSL on Linux, Windows CNG on
// Windows. Both give the same bytes for the same input, so a password line
// made on one system is checked on the other.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// PBKDF2 with HMAC-SHA-256: `bytes` bytes derived from the password and the
// salt in `iterations` rounds; nothing when the system refuses.
std::optional<std::vector<std::uint8_t>> Pbkdf2Sha256(std::string_view password,
                                                      const std::vector<std::uint8_t>& salt,
                                                      unsigned iterations, std::size_t bytes);

// `count` bytes from the system's cryptographic random source; nothing when
// it fails.
std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count);

} // namespace lumidex
