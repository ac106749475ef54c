#pragma once

#include <QString>

class QWidget;

// The program's modal message boxes go through this one interface, so
// tests can answer them and see what was shown.
class MessageBoxes {
public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Exclamation, Warning };
    enum class Answer { Ok, Yes, No, Closed };

    struct Box {
        QWidget* owner; // nullptr: a box of its own, owned by no window
        QString text;
        QString caption;
        Buttons buttons;
        Icon icon;
    };

    virtual ~MessageBoxes() = default;
    // Shows the box until the operator answers it.
    virtual Answer Show(const Box& box) = 0;
};

// QMessageBox with English button texts.
class QtMessageBoxes final : public MessageBoxes {
public:
    Answer Show(const Box& box) override;
    // The least width a box with this caption is given, so the window
    // manager's title bar shows the caption whole.
    static int MinimumWidth(const QString& caption);
};
