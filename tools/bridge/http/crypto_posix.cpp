#include "tools/bridge/http/crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace lumidex {

std::optional<std::vector<std::uint8_t>> Pbkdf2Sha256(std::string_view password,
                                                      const std::vector<std::uint8_t>& salt,
                                                      unsigned iterations, std::size_t bytes) {
    std::vector<std::uint8_t> out(bytes);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), static_cast<int>(iterations),
                          EVP_sha256(), static_cast<int>(bytes), out.data()) != 1) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    if (RAND_bytes(out.data(), static_cast<int>(count)) != 1) {
        return std::nullopt;
    }
    return out;
}

} // namespace lumidex
