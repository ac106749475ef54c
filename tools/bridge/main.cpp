#include "platform/library_search.h"
#include "tools/bridge/options.h"
#include "tools/bridge/run.h"
#include "cli/cli.h"
#include "version.h"

#include <iostream>

int main(int argc, char** argv) {
    lumidex::LoadLibrariesFromSystemOnly();
    std::string error;
    const auto options = lumidex::ParseBridgeOptions({argv + 1, argv + argc}, error);
    if (!options) {
        std::cerr << "lumidex-bridge: " << lumidex::Printable(error) << "\n";
        return 2;
    }
    if (options->help) {
        std::cout << lumidex::BridgeUsage();
        return 0;
    }
    if (options->version) {
        std::cout << lumidex::VersionText("lumidex-bridge");
        return 0;
    }
    if (options->http.hash_password) {
        return lumidex::RunHashPassword(std::cin, std::cout, std::cerr);
    }
    return lumidex::RunBridge(*options, std::cerr);
}
