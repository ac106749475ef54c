#include "gui/qt/single_instance.h"

#include "gui/qt/desktop_user.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

namespace {
constexpr int kGuardTimeoutMs = 1000;
constexpr char kRaiseRequest[] = "raise\n";
} // namespace

SingleInstanceGuard::SingleInstanceGuard(QString name) : name_(std::move(name)) {}

SingleInstanceGuard::~SingleInstanceGuard() = default;

QString SingleInstanceGuard::NameFor(const QString& window_title) {
    return window_title.toCaseFolded() + "-" + QString::fromStdString(DesktopUserKey());
}

bool SingleInstanceGuard::Claim() {
    QLocalSocket probe;
    probe.connectToServer(name_);
    if (probe.waitForConnected(kGuardTimeoutMs)) {
        probe.write(kRaiseRequest);
        probe.waitForBytesWritten(kGuardTimeoutMs);
        probe.disconnectFromServer();
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // A copy that crashed leaves its name behind.
        QLocalServer::removeServer(name_);
        server_->listen(name_);
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains("raise")) {
                    emit raiseRequested();
                }
            });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
    return true;
}

void BringForward(QWidget* main_window) {
    if (main_window->isMinimized()) {
        main_window->showNormal();
    }
    QWidget* front =
        QApplication::activeModalWidget() ? QApplication::activeModalWidget() : main_window;
    front->raise();
    front->activateWindow();
}
