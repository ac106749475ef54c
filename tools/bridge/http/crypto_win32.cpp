#include "tools/bridge/http/crypto.h"

#include <windows.h>
#include <bcrypt.h>

namespace lumidex {

std::optional<std::vector<std::uint8_t>> Pbkdf2Sha256(std::string_view password,
                                                      const std::vector<std::uint8_t>& salt,
                                                      unsigned iterations, std::size_t bytes) {
    BCRYPT_ALG_HANDLE hmac = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&hmac, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out(bytes);
    // CNG takes non-const pointers but reads only.
    std::vector<UCHAR> key(password.begin(), password.end());
    std::vector<UCHAR> salt_copy(salt.begin(), salt.end());
    const NTSTATUS status = BCryptDeriveKeyPBKDF2(
        hmac, key.data(), static_cast<ULONG>(key.size()), salt_copy.data(),
        static_cast<ULONG>(salt_copy.size()), iterations, out.data(), static_cast<ULONG>(bytes), 0);
    BCryptCloseAlgorithmProvider(hmac, 0);
    if (!BCRYPT_SUCCESS(status)) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(count),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return std::nullopt;
    }
    return out;
}

} // namespace lumidex
