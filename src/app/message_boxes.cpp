#include "app/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

MessageBoxes::Answer QtMessageBoxes::Show(const Box& box) {
    QMessageBox message(box.owner);
    message.setWindowTitle(box.caption);
    message.setText(box.text);
    switch (box.icon) {
    case Icon::None:
        message.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Exclamation:
    case Icon::Warning:
        message.setIcon(QMessageBox::Warning);
        break;
    }
    // The button texts are English whatever the desktop's language.
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    QPushButton* ok = nullptr;
    if (box.buttons == Buttons::YesNo) {
        yes = message.addButton("&Yes", QMessageBox::YesRole);
        no = message.addButton("&No", QMessageBox::NoRole);
        message.setDefaultButton(yes);
        message.setEscapeButton(no);
    } else {
        ok = message.addButton("OK", QMessageBox::AcceptRole);
        message.setDefaultButton(ok);
        message.setEscapeButton(ok);
    }
    // The window the box comes back to: its owner's, or the one that was
    // active. Without a window manager nobody else hands the keyboard back
    // when the box closes, so the box does it.
    const QPointer<QWidget> back =
        box.owner != nullptr ? box.owner->window() : QApplication::activeWindow();
    message.exec();
    if (back != nullptr && back->isVisible()) {
        back->activateWindow();
    }
    const auto* clicked = message.clickedButton();
    if (clicked == yes && yes) {
        return Answer::Yes;
    }
    if (clicked == no && no) {
        return Answer::No;
    }
    if (clicked == ok && ok) {
        return Answer::Ok;
    }
    return Answer::Closed;
}
