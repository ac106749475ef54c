#include "dialog/command_line.h"
#include "gui/qt/numicon_app.h"
#include "platform/library_search.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

int main(int argc, char** argv) {
    lumidex::LoadLibrariesFromSystemOnly();
    using Action = lumidex::dialog::DialogCommandLine::Action;
    std::error_code ec;
    const std::filesystem::path current_folder = std::filesystem::current_path(ec);
    // --help, --version and bad usage answer on the terminal, before any
    // window system is needed.
    const lumidex::dialog::DialogCommandLine command =
        lumidex::dialog::ReadCommandLine({argv + 1, argv + argc}, current_folder);
    switch (command.action) {
    case Action::Answer:
        std::cout << command.text;
        return 0;
    case Action::Refuse:
        std::cerr << command.text;
        return lumidex::dialog::kExitBadUsage;
    case Action::OpenDialog:
        break;
    }
    // Every argument was the dialog's own: Qt gets the program name alone.
    int qt_argc = 1;
    CNumiconApp app(qt_argc, argv);
    return app.InitInstance(command.settings_file);
}
