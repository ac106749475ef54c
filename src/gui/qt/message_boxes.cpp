#include "gui/qt/message_boxes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace {

using lumidex::dialog::BoxAnswer;
using lumidex::dialog::BoxButtons;
using lumidex::dialog::BoxIcon;

// Room a window manager's title bar takes beside the title: the window's
// icon, its buttons (iconify, maximise, close) and their padding. Openbox's
// default theme shows "Lumidex_1.0" whole from about 120 pixels more than
// the caption; the rest is margin for other themes and title fonts.
constexpr int kTitleBarButtonsRoom = 160;

} // namespace

int QtMessageBoxes::MinimumWidth(const QString& caption) {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true); // many window managers draw titles bold
    return QFontMetrics(font).horizontalAdvance(caption) + kTitleBarButtonsRoom;
}

BoxAnswer QtMessageBoxes::Show(QWidget* owner, const lumidex::dialog::BoxRequest& box) {
    const QString caption = QString::fromStdString(box.caption);
    QMessageBox message(owner);
    message.setWindowTitle(caption);
    message.setText(QString::fromStdString(box.text));
    switch (box.icon) {
    case BoxIcon::None:
        message.setIcon(QMessageBox::NoIcon);
        break;
    case BoxIcon::Exclamation:
    case BoxIcon::Warning:
        message.setIcon(QMessageBox::Warning);
        break;
    }
    // The button texts are English whatever the desktop's language.
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    QPushButton* ok = nullptr;
    if (box.buttons == BoxButtons::YesNo) {
        yes = message.addButton("&Yes", QMessageBox::YesRole);
        no = message.addButton("&No", QMessageBox::NoRole);
        message.setDefaultButton(yes);
        message.setEscapeButton(no);
    } else {
        ok = message.addButton("OK", QMessageBox::AcceptRole);
        message.setDefaultButton(ok);
        message.setEscapeButton(ok);
    }
    // The box sizes itself to its text and buttons; a short text ("Sent
    // successfully!") would leave the window manager too narrow a title bar
    // for the caption. A spacer across the box's grid keeps it wide enough
    // (the box overrides a plain minimum width when it lays itself out).
    if (auto* grid = qobject_cast<QGridLayout*>(message.layout())) {
        grid->addItem(
            new QSpacerItem(MinimumWidth(caption), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    // The window the box comes back to: its owner's, or the one that was
    // active. Without a window manager nobody else hands the keyboard back
    // when the box closes, so the box does it.
    const QPointer<QWidget> back =
        owner != nullptr ? owner->window() : QApplication::activeWindow();
    message.exec();
    if (back != nullptr && back->isVisible()) {
        back->activateWindow();
    }
    const auto* clicked = message.clickedButton();
    if (clicked == yes && yes) {
        return BoxAnswer::Yes;
    }
    if (clicked == no && no) {
        return BoxAnswer::No;
    }
    if (clicked == ok && ok) {
        return BoxAnswer::Ok;
    }
    return BoxAnswer::Closed;
}
