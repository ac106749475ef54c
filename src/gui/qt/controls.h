#pragma once

#include "link/send.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class MessageBoxes;

// A drop-down list of the line formats; it only fills its list.
class Cbox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    // Empties the list and adds "3" .. "8".
    void FillDigitCounts();
    // Empties the list and adds "No", "0" .. "4".
    void FillDecimalPlaces();
};

// The serial port list. Its items stay sorted the way the platform's list
// control sorts them: letter case aside, character by character.
class EnumCommPort : public QComboBox {
    Q_OBJECT
public:
    using PortLister = std::function<std::optional<std::vector<std::string>>()>;
    EnumCommPort(QWidget* parent, MessageBoxes& boxes, PortLister lister);
    // Fills the list with the machine's serial ports; when the platform's
    // list cannot be read, says "The serial port is not found in this
    // system." and leaves the list empty.
    void EnumeratePorts();
    // The chosen port as the closed list shows it: a device path too long
    // for the list is cut in the middle, so its start and end both show.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MessageBoxes& boxes_;
    PortLister lister_;
};

// The large editor of one display line. Every typed character is checked
// against the line's digit count and decimal places as stored in the
// settings file (read anew for each keystroke); Ctrl+A selects everything
// and the clipboard and undo shortcuts do nothing. A paste from the context
// menu goes in unchecked; the line is normalised when it loses the focus.
class OnlyDigitalEditor : public QLineEdit {
    Q_OBJECT
public:
    OnlyDigitalEditor(QWidget* parent, int line, std::function<std::filesystem::path()> settings);
    int line() const { return line_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int line_;
    std::function<std::filesystem::path()> settings_;
};

// OnlyDigital1 .. OnlyDigital6: the editors of lines 1 .. 6.
template <int Line> class OnlyDigital final : public OnlyDigitalEditor {
public:
    OnlyDigital(QWidget* parent, std::function<std::filesystem::path()> settings)
        : OnlyDigitalEditor(parent, Line, std::move(settings)) {}
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

// A send button ("TCP/IP", "Serial") and the transmission operations every
// frame of its link goes through.
class SendButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;
    lumidex::Send& transmission() { return send_; }

private:
    lumidex::Send send_;
};
