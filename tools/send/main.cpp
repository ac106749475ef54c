#include "platform/library_search.h"
#include "cli/cli.h"
#include "tools/send/send_cli.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    lumidex::LoadLibrariesFromSystemOnly();
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = lumidex::ParseSendOptions(args, error);
    if (!options) {
        std::cerr << "lumidex-send: " << lumidex::Printable(error) << "\n";
        return lumidex::kExitBadInput;
    }
    return lumidex::RunSend(*options, std::cout, std::cerr);
}
