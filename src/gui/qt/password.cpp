#include "gui/qt/password.h"

#include "gui/qt/app_globals.h"
#include "gui/qt/dialog_font.h"
#include "gui/qt/dialog_template.h"
#include "gui/qt/message_boxes.h"

#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr const char* kPassword = "v503";
}

PassWord::PassWord(QWidget* owner, MessageBoxes& boxes) : QDialog(owner), boxes_(boxes) {
    setWindowTitle("Password");
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const QRect size = DialogUnitsToPixels(0, 0, 123, 32);
    setFixedSize(size.width(), size.height());
    edit_ = new QLineEdit(this);
    edit_->setObjectName("1005");
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setGeometry(DialogUnitsToPixels(7, 7, 109, 17));
    // Enter in the edit is the OK command; Escape is Cancel (the dialog's own).
    connect(edit_, &QLineEdit::returnPressed, this, &PassWord::accept);
    // OK and Cancel exist for Enter and Escape but are not shown.
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("1");
    ok->setDefault(true);
    ok->hide();
    connect(ok, &QPushButton::clicked, this, &PassWord::accept);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("2");
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, &PassWord::reject);
    edit_->setFocus();
}

void PassWord::accept() {
    if (edit_->text() == kPassword) {
        emit passwordResult(true);
        done(QDialog::Rejected);
        return;
    }
    emit passwordResult(false);
    boxes_.Show({this, "Wrong password!", ApplicationName(), MessageBoxes::Buttons::Ok,
                 MessageBoxes::Icon::None});
    // Empty and with the keyboard, so the next try can be typed at once.
    edit_->clear();
    edit_->setFocus(Qt::OtherFocusReason);
    activateWindow();
}
