#include "app/numicon_app.h"

#include "app/app_globals.h"
#include "app/dialog_font.h"
#include "app/numicon_dlg.h"
#include "app/single_instance.h"
#include "link/port_list.h"
#include "protocol/local_time.h"

#include <QDesktopServices>
#include <QUrl>

CNumiconApp::CNumiconApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Message boxes and the password dialog speak in the dialog font too.
    setFont(DialogFont());
    setWindowIcon(ApplicationIcon());
}

int CNumiconApp::InitInstance() {
    SingleInstanceGuard guard(SingleInstanceGuard::NameFor(Process().window_title));
    if (!guard.Claim()) {
        return 0;
    }
    QtMessageBoxes boxes;
    CNumiconDlg::Environment environment;
    environment.settings_path = (applicationDirPath() + "/Config.ini").toStdString();
    environment.boxes = &boxes;
    environment.port_lister = lumidex::ListSerialPorts;
    environment.open_document = [](const QString& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    environment.local_time = lumidex::LocalTimeNow;
    CNumiconDlg dialog(environment);
    connect(&guard, &SingleInstanceGuard::raiseRequested, &dialog,
            [&dialog] { BringForward(&dialog); });
    dialog.exec();
    return 0;
}
