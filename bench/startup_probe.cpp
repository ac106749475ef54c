// Starts the way lumidex starts (application, guard, dialog over the
// Config.ini beside it) and, once the dialog is shown, prints its resident
// memory and exits. bench_dialog times it from the outside.
#include "gui/qt/app_globals.h"
#include "gui/qt/message_boxes.h"
#include "gui/qt/numicon_window.h"
#include "gui/qt/single_instance.h"
#include "link/port_list.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SingleInstanceGuard guard(SingleInstanceGuard::NameFor("lumidex-startup-probe"));
    guard.Claim();
    QtMessageBoxes boxes;
    NumiconWindow::Environment environment;
    environment.settings_path = (QApplication::applicationDirPath() + "/Config.ini").toStdString();
    environment.boxes = &boxes;
    environment.port_lister = lumidex::ListSerialPorts;
    environment.local_time = [] { return lumidex::ClockTime{}; };
    NumiconWindow dialog(environment);
    dialog.show();
    QTimer::singleShot(0, [] {
        std::printf("shown %ld\n", ResidentKilobytes());
        std::fflush(stdout);
        QApplication::exit(0);
    });
    return QApplication::exec();
}
