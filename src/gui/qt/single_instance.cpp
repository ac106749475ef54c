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
    const auto folder = PrivateRuntimeFolder();
    if (!folder) {
        // Without a folder of our own another user could plant the name and
        // keep this copy from starting; it runs without the guard instead.
        return true;
    }
    const QString name =
        folder->empty() ? name_ : QString::fromStdString((*folder / name_.toStdString()).string());
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(kGuardTimeoutMs)) {
        probe.write(kRaiseRequest);
        probe.waitForBytesWritten(kGuardTimeoutMs);
        probe.disconnectFromServer();
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        // A copy that crashed leaves its name behind, in a folder only this
        // user can write.
        QLocalServer::removeServer(name);
        server_->listen(name);
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            if (!PeerIsThisUser(peer->socketDescriptor())) {
                peer->abort(); // only this user's own copies may ask
                peer->deleteLater();
                continue;
            }
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
