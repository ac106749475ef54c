#pragma once

#include <QApplication>
#include <QString>
#include <memory>

class QLocalServer;
class CNumiconDlg;

// The application: one copy per desktop user, running the main dialog until
// its confirmed close.
class CNumiconApp : public QApplication {
    Q_OBJECT
public:
    CNumiconApp(int& argc, char** argv);
    ~CNumiconApp() override;

    // Runs the start-up sequence and the dialog; returns the exit status.
    int InitInstance();

    // The single-instance guard: true when start-up may go on; false when a
    // running copy was found and asked to come forward.
    bool GuardSingleInstance();

    // The name both copies meet under: the window title, letter case
    // aside, and the user.
    static QString InstanceName();

private:
    void BringForward();

    std::unique_ptr<QLocalServer> server_;
    CNumiconDlg* dialog_ = nullptr;
};
