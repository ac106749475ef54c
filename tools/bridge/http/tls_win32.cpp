#include "tools/bridge/http/tls.h"

namespace lumidex {

std::unique_ptr<TlsServer> MakeTlsServer(const std::filesystem::path&, const std::filesystem::path&,
                                         std::string& error) {
    error = "HTTPS is not available in the Windows build; serve HTTP on this machine or put a "
            "TLS proxy in front";
    return nullptr;
}

} // namespace lumidex
