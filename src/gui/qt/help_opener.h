#pragma once

#include <QObject>
#include <QString>

// Opens the help document with `opener` (xdg-open: the desktop's own choice
// of program). When the opener ends with a failure (xdg-open says so when no
// program opens .doc files), opens the HTML copy beside the document
// (Help.html) the same way. When the opener cannot be started at all, the
// document goes to QDesktopServices. Returns at once; the running opener
// belongs to `owner`.
void OpenHelpDocument(const QString& path, QObject* owner,
                      const QString& opener = QStringLiteral("xdg-open"));
