#include "boards/change_record.h"
#include "platform/library_search.h"
#include "tools/bridge/options.h"
#include "tools/bridge/run.h"
#include "cli/cli.h"
#include "version.h"

#include <filesystem>
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
    if (!options->check_record.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(options->check_record, ec)) {
            std::cerr << "lumidex-bridge: " << lumidex::Printable(options->check_record)
                      << ": no such record file\n";
            return 2;
        }
        std::size_t lines = 0;
        if (const auto broken = lumidex::CheckRecord(options->check_record, &lines)) {
            std::cout << lumidex::Printable(options->check_record + ": " + *broken) << "\n";
            return 1;
        }
        std::cout << lumidex::Printable(options->check_record) << ": the chain holds (" << lines
                  << " lines)\n";
        return 0;
    }
    if (options->http.hash_password) {
        return lumidex::RunHashPassword(std::cin, std::cout, std::cerr);
    }
    return lumidex::RunBridge(*options, std::cerr);
}
