#include "app/numicon_app.h"

#include "app/app_globals.h"
#include "app/numicon_dlg.h"
#include "link/port_list.h"

#include <QDesktopServices>
#include <QLocalServer>
#include <QLocalSocket>
#include <QUrl>
#include <ctime>
#include <unistd.h>

namespace {
constexpr int kGuardTimeoutMs = 1000;
constexpr char kRaiseRequest[] = "raise\n";

lumidex::ClockTime LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
            local.tm_min,         local.tm_sec,     local.tm_wday};
}
} // namespace

CNumiconApp::CNumiconApp(int& argc, char** argv) : QApplication(argc, argv) {}

CNumiconApp::~CNumiconApp() = default;

QString CNumiconApp::InstanceName() {
    return Process().window_title.toCaseFolded() + "-" + QString::number(::getuid());
}

bool CNumiconApp::GuardSingleInstance() {
    QLocalSocket probe;
    probe.connectToServer(InstanceName());
    if (probe.waitForConnected(kGuardTimeoutMs)) {
        probe.write(kRaiseRequest);
        probe.waitForBytesWritten(kGuardTimeoutMs);
        probe.disconnectFromServer();
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(InstanceName())) {
        // A copy that crashed leaves its name behind.
        QLocalServer::removeServer(InstanceName());
        server_->listen(InstanceName());
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains("raise")) {
                    BringForward();
                }
            });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
    return true;
}

void CNumiconApp::BringForward() {
    if (dialog_ == nullptr) {
        return;
    }
    if (dialog_->isMinimized()) {
        dialog_->showNormal();
    }
    // The password dialog or a message box, when one is up, comes forward.
    QWidget* front = activeModalWidget() ? activeModalWidget() : dialog_;
    front->raise();
    front->activateWindow();
}

int CNumiconApp::InitInstance() {
    if (!GuardSingleInstance()) {
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
    environment.local_time = LocalTimeNow;
    CNumiconDlg dialog(environment);
    dialog_ = &dialog;
    dialog.exec();
    dialog_ = nullptr;
    return 0;
}
