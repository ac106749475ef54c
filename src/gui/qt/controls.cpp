#include "gui/qt/controls.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>

QString EnumCommPort::ShownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    return fontMetrics().elidedText(currentText(), Qt::ElideMiddle, field.width());
}

void EnumCommPort::paintEvent(QPaintEvent*) {
    // The toolkit's own drawing of a closed list, with the text cut in the
    // middle rather than at its end.
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = ShownText();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

OnlyDigitalEditor::OnlyDigitalEditor(QWidget* parent, int line, KeyRule rule)
    : QLineEdit(parent), line_(line), rule_(std::move(rule)) {}

void OnlyDigitalEditor::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (control && event->key() == Qt::Key_A) {
        selectAll();
        return;
    }
    if (event == QKeySequence::Copy || event == QKeySequence::Paste || event == QKeySequence::Cut ||
        event == QKeySequence::Undo || event == QKeySequence::Redo) {
        return;
    }
    const QString typed = event->text();
    const bool is_character =
        typed.size() == 1 && (typed[0].isPrint() || typed[0].unicode() == lumidex::kBackspace ||
                              typed[0].unicode() == lumidex::kCarriageReturn);
    if (!is_character || control) {
        QLineEdit::keyPressEvent(event); // caret movement, Delete and the like
        return;
    }
    int start = cursorPosition();
    int end = start;
    if (hasSelectedText()) {
        start = selectionStart();
        end = selectionEnd();
    }
    const auto after = rule_(line_, {text().toStdU16String(), start, end}, typed[0].unicode());
    if (!after) {
        return;
    }
    setText(QString::fromStdU16String(after->text));
    setSelection(after->sel_start, after->sel_end - after->sel_start);
    setCursorPosition(after->sel_end);
}

IpAddressField::IpAddressField(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* validator = new QRegularExpressionValidator(QRegularExpression("[0-9]{0,3}"), this);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0) {
            layout->addWidget(new QLabel(".", this));
        }
        auto* field = new QLineEdit(this);
        field->setObjectName(QString("field%1").arg(i + 1));
        field->setValidator(validator);
        field->setAlignment(Qt::AlignCenter);
        field->setFrame(false);
        // A click gives a field the focus; Tab never does (no tab stop).
        field->setFocusPolicy(Qt::ClickFocus);
        field->setText("0");
        field->installEventFilter(this);
        layout->addWidget(field, 1);
        fields_[i] = field;
        // Three digits move on to the next field, as the platform's field does.
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.toInt() > 255) {
                fields_[i]->setText("255");
            }
            if (text.size() == 3 && i + 1 < fields_.size()) {
                fields_[i + 1]->setFocus(Qt::TabFocusReason);
                fields_[i + 1]->selectAll();
            }
        });
    }
    setFocusProxy(fields_[0]);
}

void IpAddressField::SetAddress(std::uint32_t address) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xFF));
    }
}

std::uint32_t IpAddressField::Address() const {
    std::uint32_t address = 0;
    for (const QLineEdit* field : fields_) {
        address = (address << 8) | static_cast<std::uint32_t>(std::min(field->text().toInt(), 255));
    }
    return address;
}

bool IpAddressField::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // Leaving a field counts; a switch to another window does not.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
            emit fieldChanged();
        }
    }
    if (event->type() == QEvent::KeyPress) {
        // "." moves to the next field.
        auto* key = static_cast<QKeyEvent*>(event);
        const auto it = std::find(fields_.begin(), fields_.end(), watched);
        if (key->text() == "." && it != fields_.end() && it + 1 != fields_.end()) {
            (*(it + 1))->setFocus(Qt::TabFocusReason);
            (*(it + 1))->selectAll();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
