#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QWidget;

// One copy of the program per desktop user. The first copy claims the name
// and listens on it in a folder only this user can write; a later copy finds
// it there, asks it to come forward and gives up. Requests from another
// user's programs are ignored.
class SingleInstanceGuard : public QObject {
    Q_OBJECT
public:
    explicit SingleInstanceGuard(QString name);
    ~SingleInstanceGuard() override;

    // True when this is the first copy; false when a running copy was found
    // (it has then been asked to come forward).
    bool Claim();

    // The name for a window title: letter case aside, and per user.
    static QString NameFor(const QString& window_title);

signals:
    // A later copy asked this one to come forward.
    void raiseRequested();

private:
    QString name_;
    std::unique_ptr<QLocalServer> server_;
};

// Brings the main window forward: restored when minimised, and its password
// dialog or message box on top when one is up.
void BringForward(QWidget* main_window);
