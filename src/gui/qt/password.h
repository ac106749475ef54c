#pragma once

#include <QDialog>

class QLineEdit;

// The password dialog of the settings panel: one masked edit. Enter hands
// the edit's text on (passwordEntered) and leaves the verdict to the
// dialog's behaviour; Escape and the close button end it.
class PassWord : public QDialog {
    Q_OBJECT
public:
    explicit PassWord(QWidget* owner);
    QLineEdit* edit() const { return edit_; }
    // Empties the edit and gives it the keyboard, for another try.
    void ClearEdit();

signals:
    void passwordEntered(const QString& typed);

public slots:
    void accept() override;

private:
    QLineEdit* edit_;
};
