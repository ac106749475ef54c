#pragma once

#include <QApplication>

#include <filesystem>

// The application: one copy per desktop user, running the main dialog until
// its confirmed close.
class CNumiconApp : public QApplication {
    Q_OBJECT
public:
    CNumiconApp(int& argc, char** argv);

    // Runs the start-up sequence and the dialog on the settings file named
    // on the command line (`named`), or on its own when that is empty;
    // returns the exit status. A second copy brings the first forward and
    // ends without a window.
    int InitInstance(const std::filesystem::path& named);
};
