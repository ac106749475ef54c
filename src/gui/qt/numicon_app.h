#pragma once

#include <QApplication>

// The application: one copy per desktop user, running the main dialog until
// its confirmed close.
class CNumiconApp : public QApplication {
    Q_OBJECT
public:
    CNumiconApp(int& argc, char** argv);

    // Runs the start-up sequence and the dialog; returns the exit status.
    // A second copy brings the first forward and ends without a window.
    int InitInstance();
};
