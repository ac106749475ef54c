#pragma once

#include "lines/keystroke.h"

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

// The serial port list. A device path too long for the closed list is drawn
// cut in the middle, so its start and end both show.
class EnumCommPort : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    // The chosen port as the closed list shows it.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The large editor of one display line. Every typed character goes through
// the dialog's keystroke rule (the line's digit count and decimal places as
// stored); Ctrl+A selects everything and the clipboard and undo shortcuts do
// nothing. A paste from the context menu goes in unchecked; the line is
// normalised when it loses the focus.
class OnlyDigitalEditor : public QLineEdit {
    Q_OBJECT
public:
    // The text and selection a typed key leaves, or nothing when it changes
    // nothing.
    using KeyRule = std::function<std::optional<lumidex::EditorText>(
        int line, const lumidex::EditorText&, char16_t key)>;
    OnlyDigitalEditor(QWidget* parent, int line, KeyRule rule);
    int line() const { return line_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int line_;
    KeyRule rule_;
};

// OnlyDigital1 .. OnlyDigital6: the editors of lines 1 .. 6.
template <int Line> class OnlyDigital final : public OnlyDigitalEditor {
public:
    OnlyDigital(QWidget* parent, KeyRule rule) : OnlyDigitalEditor(parent, Line, std::move(rule)) {}
};

// The controller's IPv4 address as four fields of 0..255. `fieldChanged`
// is emitted when the operator leaves a field, to another field or out of
// the control; setting the address from the program emits nothing.
class IpAddressField : public QWidget {
    Q_OBJECT
public:
    explicit IpAddressField(QWidget* parent);
    void SetAddress(std::uint32_t address);
    // The address the fields show, an empty field counting as 0.
    std::uint32_t Address() const;
    // The four fields, for focus and tests.
    QLineEdit* field(int index) const { return fields_[static_cast<std::size_t>(index)]; }

signals:
    void fieldChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QLineEdit*, 4> fields_{};
};
