#pragma once

#include <QIcon>
#include <QString>
#include <filesystem>

// The program's process-wide values.
struct ProcessValues {
    // The main window's title; caption of the program's own message boxes
    // and the name the single-instance guard looks for.
    QString window_title = QStringLiteral("Lumidex_1.0");
    // The settings file, set while the main dialog initialises.
    std::filesystem::path settings_path;
    // The controller address as "a.b.c.d", renewed by every settings refresh.
    QString controller_address;
    // The width the settings panel's slide last gave the window, in pixels.
    int window_width = 290;
};

ProcessValues& Process();

// The caption of message boxes shown without one of their own: the
// executable's file name without its extension.
QString ApplicationName();

// The program's icon (a seven-segment digit), for its windows.
QIcon ApplicationIcon();

// The help document to open: Help.doc beside the executable, else the
// installed copy's one in its data folder; the path beside the executable
// when neither exists.
QString HelpDocumentPath();
