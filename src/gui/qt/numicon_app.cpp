#include "gui/qt/numicon_app.h"

#include "dialog/command_line.h"
#include "dialog/dialog_template.h"
#include "gui/qt/app_globals.h"
#include "gui/qt/dialog_font.h"
#include "gui/qt/help_opener.h"
#include "gui/qt/numicon_window.h"
#include "gui/qt/single_instance.h"
#include "link/port_list.h"
#include "protocol/local_time.h"
#include "settings/file_io.h"
#include "settings/location.h"

CNumiconApp::CNumiconApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Message boxes and the password dialog speak in the dialog font too.
    setFont(DialogFont());
    setWindowIcon(ApplicationIcon());
}

int CNumiconApp::InitInstance(const std::filesystem::path& named) {
    SingleInstanceGuard guard(
        SingleInstanceGuard::NameFor(QString::fromUtf8(lumidex::dialog::kWindowTitle.data())));
    if (!guard.Claim()) {
        return 0;
    }
    QtMessageBoxes boxes;
    NumiconWindow::Environment environment;
    const lumidex::SettingsLocation location =
        lumidex::dialog::PrepareDialogSettings(named, lumidex::ExecutableDirectory());
    environment.settings_path = location.file;
    environment.settings_place = location.place;
    environment.boxes = &boxes;
    environment.port_lister = lumidex::ListSerialPorts;
    environment.open_document = [this](const QString& path) { OpenHelpDocument(path, this); };
    environment.local_time = lumidex::LocalTimeNow;
    NumiconWindow dialog(environment);
    connect(&guard, &SingleInstanceGuard::raiseRequested, &dialog,
            [&dialog] { BringForward(&dialog); });
    dialog.exec();
    return 0;
}
