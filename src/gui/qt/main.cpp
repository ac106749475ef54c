#include "dialog/command_line.h"
#include "gui/qt/numicon_app.h"
#include "platform/library_search.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    lumidex::LoadLibrariesFromSystemOnly();
    // --help and --version answer on the terminal, before any window system
    // is needed.
    if (const auto answer = lumidex::dialog::CommandLineAnswer({argv + 1, argv + argc})) {
        std::cout << *answer;
        return 0;
    }
    CNumiconApp app(argc, argv);
    return app.InitInstance();
}
