#include "gui/qt/controls.h"

#include "gui/qt/app_globals.h"
#include "gui/qt/message_boxes.h"
#include "lines/keystroke.h"
#include "lines/line_format.h"
#include "settings/keys.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>

namespace {

// Fills a list without choosing an item: the refresh selects the stored one.
template <std::size_t N> void Fill(QComboBox& list, const std::array<std::string_view, N>& items) {
    list.clear();
    for (std::string_view item : items) {
        list.addItem(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
    }
    list.setCurrentIndex(-1);
}

} // namespace

void Cbox::FillDigitCounts() {
    Fill(*this, lumidex::kDigitCountItems);
}

void Cbox::FillDecimalPlaces() {
    Fill(*this, lumidex::kDecimalPlaceItems);
}

EnumCommPort::EnumCommPort(QWidget* parent, MessageBoxes& boxes, PortLister lister)
    : QComboBox(parent), boxes_(boxes), lister_(std::move(lister)) {}

void EnumCommPort::EnumeratePorts() {
    const auto ports = lister_();
    if (!ports) {
        boxes_.Show({this, "The serial port is not found in this system.", ApplicationName(),
                     MessageBoxes::Buttons::Ok, MessageBoxes::Icon::None});
        return;
    }
    QStringList names;
    for (const std::string& port : *ports) {
        names << QString::fromStdString(port);
    }
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    addItems(names);
    setCurrentIndex(-1); // the settings refresh chooses the stored port
}

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

OnlyDigitalEditor::OnlyDigitalEditor(QWidget* parent, int line,
                                     std::function<std::filesystem::path()> settings)
    : QLineEdit(parent), line_(line), settings_(std::move(settings)) {}

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
    const lumidex::SettingsFile settings(settings_());
    const auto index = static_cast<std::size_t>(line_ - 1);
    const std::string places = settings.Read(lumidex::keys::kDecimalPlaces[index]);
    const std::string digits =
        settings.Read(lumidex::keys::kDigitCount[index], lumidex::keys::kEditorDigitCountFallback);
    int start = cursorPosition();
    int end = start;
    if (hasSelectedText()) {
        start = selectionStart();
        end = selectionEnd();
    }
    const lumidex::EditorText before{text().toStdU16String(), start, end};
    const auto outcome = lumidex::ApplyLineKeystroke(before, typed[0].unicode(), digits, places);
    if (outcome.verdict != lumidex::KeyVerdict::Accepted) {
        return;
    }
    setText(QString::fromStdU16String(outcome.result.text));
    const int caret = outcome.result.sel_end;
    setSelection(outcome.result.sel_start, caret - outcome.result.sel_start);
    setCursorPosition(caret);
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
