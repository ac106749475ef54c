#pragma once

#include "dialog/dialog_view.h"

#include <QString>

class QWidget;

// The program's modal message boxes go through this one interface, so
// tests can answer them and see what was shown.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box over `owner` (nullptr: a box of its own, owned by no
    // window) until the operator answers it; the request's own owner id has
    // been turned into `owner` already.
    virtual lumidex::dialog::BoxAnswer Show(QWidget* owner,
                                            const lumidex::dialog::BoxRequest& box) = 0;
};

// QMessageBox with English button texts.
class QtMessageBoxes final : public MessageBoxes {
public:
    lumidex::dialog::BoxAnswer Show(QWidget* owner,
                                    const lumidex::dialog::BoxRequest& box) override;
    // The least width a box with this caption is given, so the window
    // manager's title bar shows the caption whole.
    static int MinimumWidth(const QString& caption);
};
