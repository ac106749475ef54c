#pragma once

#include <QDialog>

class MessageBoxes;
class QLineEdit;

// Asks for the password that opens the settings panel. Enter checks it:
// the right one reports true and closes the dialog; a wrong one reports
// false, says "Wrong password!" and empties the edit for another try.
// Escape and the close button end it without a report.
class PassWord : public QDialog {
    Q_OBJECT
public:
    PassWord(QWidget* owner, MessageBoxes& boxes);
    QLineEdit* edit() const { return edit_; }

signals:
    // Sent before the dialog closes, so the panel starts opening meanwhile.
    void passwordResult(bool accepted);

public slots:
    void accept() override;

private:
    MessageBoxes& boxes_;
    QLineEdit* edit_;
};
