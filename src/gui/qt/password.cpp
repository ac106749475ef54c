#include "gui/qt/password.h"

#include "dialog/control_ids.h"
#include "dialog/dialog_template.h"
#include "gui/qt/dialog_font.h"
#include "gui/qt/dialog_units.h"

#include <QLineEdit>
#include <QPushButton>

PassWord::PassWord(QWidget* owner) : QDialog(owner) {
    namespace dialog = lumidex::dialog;
    setWindowTitle(QString::fromUtf8(dialog::kPasswordTitle.data(),
                                     static_cast<qsizetype>(dialog::kPasswordTitle.size())));
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const QRect size =
        DialogUnitsToPixels(0, 0, dialog::kPasswordTemplateWidth, dialog::kPasswordTemplateHeight);
    setFixedSize(size.width(), size.height());
    for (const dialog::ControlSpec& control : dialog::PasswordDialogControls()) {
        QWidget* widget = nullptr;
        if (control.kind == dialog::ControlKind::PasswordEdit) {
            edit_ = new QLineEdit(this);
            edit_->setEchoMode(QLineEdit::Password);
            // Enter in the edit is the OK command; Escape is Cancel (the dialog's own).
            connect(edit_, &QLineEdit::returnPressed, this, &PassWord::accept);
            widget = edit_;
        } else {
            // OK and Cancel exist for Enter and Escape but are not shown.
            auto* button = new QPushButton(QString::fromUtf8(control.label), this);
            button->setDefault(control.id == dialog::kPasswordOk);
            button->hide();
            connect(button, &QPushButton::clicked, this,
                    control.id == dialog::kPasswordOk ? &PassWord::accept : &PassWord::reject);
            widget = button;
        }
        widget->setObjectName(QString::number(control.id));
        widget->setGeometry(DialogUnitsToPixels(control.x, control.y, control.w, control.h));
    }
    edit_->setFocus();
}

void PassWord::accept() {
    emit passwordEntered(edit_->text());
}

void PassWord::ClearEdit() {
    edit_->clear();
    edit_->setFocus(Qt::OtherFocusReason);
    activateWindow();
}
