#pragma once

#include "gui/qt/message_boxes.h"

#include <QList>
#include <functional>

// Answers the program's message boxes from a script and records each one.
// Without a scripted answer an OK box is answered OK and a Yes/No box No.
class ScriptedMessageBoxes final : public MessageBoxes {
public:
    Answer Show(const Box& box) override {
        shown.append(box);
        if (while_shown) {
            while_shown(box);
        }
        if (!answers.isEmpty()) {
            return answers.takeFirst();
        }
        return box.buttons == Buttons::Ok ? Answer::Ok : Answer::No;
    }
    QStringList Texts() const {
        QStringList texts;
        for (const Box& box : shown) {
            texts << box.text;
        }
        return texts;
    }

    QList<Box> shown;
    QList<Answer> answers;
    std::function<void(const Box&)> while_shown;
};
