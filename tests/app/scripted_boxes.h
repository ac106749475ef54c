#pragma once

#include "gui/qt/message_boxes.h"

#include <QList>
#include <QStringList>
#include <functional>

// Answers the program's message boxes from a script and records each one.
// Without a scripted answer an OK box is answered OK and a Yes/No box No.
class ScriptedMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        QWidget* owner;
        lumidex::dialog::BoxRequest box;
    };

    lumidex::dialog::BoxAnswer Show(QWidget* owner,
                                    const lumidex::dialog::BoxRequest& box) override {
        shown.append({owner, box});
        if (while_shown) {
            while_shown(shown.back());
        }
        if (!answers.isEmpty()) {
            return answers.takeFirst();
        }
        return box.buttons == lumidex::dialog::BoxButtons::Ok ? lumidex::dialog::BoxAnswer::Ok
                                                              : lumidex::dialog::BoxAnswer::No;
    }
    QStringList Texts() const {
        QStringList texts;
        for (const Shown& each : shown) {
            texts << QString::fromStdString(each.box.text);
        }
        return texts;
    }

    QList<Shown> shown;
    QList<lumidex::dialog::BoxAnswer> answers;
    std::function<void(const Shown&)> while_shown;
};
