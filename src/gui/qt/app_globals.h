#pragma once

#include <QIcon>
#include <QString>

// The caption of message boxes shown without one of their own: the
// executable's file name without its extension.
QString ApplicationName();

// The program's icon (a seven-segment digit), for its windows.
QIcon ApplicationIcon();

// The help document to open: Help.doc beside the executable, else the
// installed copy's one in its data folder; the path beside the executable
// when neither exists.
QString HelpDocumentPath();
