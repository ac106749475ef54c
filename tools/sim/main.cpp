#include "platform/library_search.h"
#include "cli/cli.h"
#include "tools/sim/simulator.h"
#include "version.h"

#include <iostream>

int main(int argc, char** argv) {
    lumidex::LoadLibrariesFromSystemOnly();
    std::string error;
    const auto options = lumidex::ParseSimOptions({argv + 1, argv + argc}, error);
    if (!options) {
        std::cerr << "lumidex-sim: " << lumidex::Printable(error) << "\n";
        return 2;
    }
    if (options->help) {
        std::cout << lumidex::SimUsage();
        return 0;
    }
    if (options->version) {
        std::cout << lumidex::VersionText("lumidex-sim");
        return 0;
    }
    if (const auto warning = lumidex::ExposureWarning(*options)) {
        std::cerr << *warning << "\n";
    }
    return lumidex::RunSimulator(*options, std::cout, std::cerr);
}
