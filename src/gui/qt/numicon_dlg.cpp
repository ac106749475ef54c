#include "gui/qt/numicon_dlg.h"

#include "gui/qt/app_globals.h"
#include "gui/qt/dialog_font.h"
#include "gui/qt/dialog_template.h"
#include "gui/qt/password.h"
#include "lines/line_format.h"
#include "link/address.h"
#include "settings/file_io.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <algorithm>
#include <array>

namespace {

using lumidex::kLineCount;
namespace keys = lumidex::keys;

// Control identifiers of the six lines, indexed by line - 1.
constexpr std::array<int, 6> kLineEditors{1005, 1006, 1007, 1008, 1009, 1023};
constexpr std::array<int, 6> kCaptionEditors{1040, 1042, 1043, 1044, 1045, 1047};
constexpr std::array<int, 6> kChosenBoxes{1000, 1001, 1002, 1003, 1004, 1035};
constexpr std::array<int, 6> kDigitCountLists{1010, 1011, 1012, 1013, 1014, 1041};
constexpr std::array<int, 6> kPlacesLists{1015, 1016, 1017, 1018, 1019, 1048};
constexpr std::array<int, 6> kFlickerBoxes{1058, 1062, 1063, 1064, 1065, 1066};
constexpr std::array<int, 6> kPointBoxes{1060, 1079, 1080, 1081, 1083, 1084};

constexpr int kUnifiedDigitCount = 1026;
constexpr int kUnifiedPlaces = 1027;
constexpr int kUnifiedFlicker = 1069;
constexpr int kUnifiedPoint = 1085;
constexpr int kSeparateRadio = 1024;
constexpr int kUnifiedRadio = 1025;
constexpr int kAddressField = 1034;
constexpr int kPortList = 1039;
constexpr int kBaudList = 1057;
constexpr int kUpdateList = 1061;
constexpr int kBusAddress = 1056;
constexpr int kDaySlider = 1038;
constexpr int kNightSlider = 1046;
constexpr int kAddressLabel = 1052;
constexpr int kPortLabel = 1051;
constexpr int kUdpButton = 1020;
constexpr int kSerialButton = 1021;
constexpr int kSettingsButton = 1049;
constexpr int kHelpButton = 1037;
constexpr int kSaveAndExitButton = 1050;
constexpr int kBrightnessButton = 1054;
constexpr int kProofTimeButton = 1022;
constexpr int kInitializeButton = 1036;

constexpr int kClosedWidth = 290;
constexpr int kOpenWidth = 520;
constexpr int kWindowHeight = 620;
constexpr int kWidenStep = 10;
constexpr int kWidenIntervalMs = 10;
constexpr int kBrightnessMax = 7;

constexpr const char* kPlacesMessage =
    "Please note that the display Places must be larger than the decimal Places！";

// The line (1..6) whose control this is in the given group, or 0.
int LineOf(const std::array<int, 6>& group, int id) {
    const auto it = std::find(group.begin(), group.end(), id);
    return it == group.end() ? 0 : static_cast<int>(it - group.begin()) + 1;
}

std::size_t Index(int line) {
    return static_cast<std::size_t>(line - 1);
}

// OnlyDigital<line> for a display line's editor, a plain edit for a caption.
template <int... Lines>
QLineEdit* MakeLineEditor(int line, QWidget* parent,
                          const std::function<std::filesystem::path()>& settings_path,
                          std::integer_sequence<int, Lines...>) {
    QLineEdit* editor = nullptr;
    ((editor = line == Lines ? new OnlyDigital<Lines>(parent, settings_path) : editor), ...);
    return editor != nullptr ? editor : new QLineEdit(parent);
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.c_str());
}
std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// The largest pixel size of the face whose cell fits the height.
QFont FitFont(QFont font, int cell_height) {
    for (int size = cell_height; size > 6; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() <= cell_height) {
            break;
        }
    }
    return font;
}

// "Port:  <port>  Boud: <baud>" for the port label. A device under /dev/ is
// named without that folder ("ttyUSB0"); the tooltip keeps the full path. A
// port name still too long for the label is cut in the middle, so the baud
// rate always shows.
QString PortLabelText(const QLabel& label, QString port, const QString& baud) {
    const QString device_folder = "/dev/";
    if (port.startsWith(device_folder) && port.size() > device_folder.size()) {
        port.remove(0, device_folder.size());
    }
    const QString head = "Port:  ";
    const QString tail = "  Boud: " + baud;
    const QFontMetrics metrics = label.fontMetrics();
    const int room = label.contentsRect().width() - metrics.horizontalAdvance(head + tail);
    return head + metrics.elidedText(port, Qt::ElideMiddle, std::max(room, 0)) + tail;
}

// Windows' dialogs put a check box's label 3 pixels after the box and draw a
// group's title on its frame line; the toolkit's style does neither.
constexpr const char* kCheckBoxSheet = "QCheckBox { spacing: 3px; }";
constexpr const char* kGroupBoxSheet =
    "QGroupBox { border: 1px solid palette(mid); margin-top: 6px; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
    " left: 6px; padding: 0px 2px; }";

QString LineEditorFace() {
    const QStringList families = QFontDatabase::families();
    if (families.contains("DigifaceWide")) {
        return "DigifaceWide";
    }
    if (families.contains("DSEG7 Classic")) {
        return "DSEG7 Classic";
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

} // namespace

CNumiconDlg::CNumiconDlg(Environment environment)
    : QDialog(nullptr), environment_(std::move(environment)),
      settings_(environment_.settings_path) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    CreateControls();
    ConnectRoutes();
    widen_timer_.setInterval(kWidenIntervalMs);
    connect(&widen_timer_, &QTimer::timeout, this, [this] {
        if (Process().window_width >= kOpenWidth) {
            widen_timer_.stop();
            return;
        }
        Process().window_width += kWidenStep;
        ResizeWindow(Process().window_width);
    });
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &CNumiconDlg::OnFocusChanged);
    OnInitDialog();
}

CNumiconDlg::~CNumiconDlg() {
    // Hiding moves the focus, which must not reach handlers of a dialog
    // that is going away.
    ++program_change_;
    qApp->removeEventFilter(this);
    disconnect(qApp, nullptr, this, nullptr);
    for (QWidget* widget : std::as_const(controls_)) {
        widget->disconnect(this);
    }
    hide();
}

void CNumiconDlg::CreateControls() {
    const auto settings_path = [this] { return Process().settings_path; };
    setFont(DialogFont());
    for (const ControlSpec& entry : MainDialogControls()) {
        // "&" in a label is shown as it stands, not as a mnemonic.
        const QString label = QString::fromUtf8(entry.label).replace("&", "&&");
        QWidget* widget = nullptr;
        const int line = LineOf(kLineEditors, entry.id);
        switch (entry.kind) {
        case ControlKind::Edit:
            widget = MakeLineEditor(line, this, settings_path,
                                    std::integer_sequence<int, 1, 2, 3, 4, 5, 6>{});
            widget->setFocusPolicy(Qt::StrongFocus);
            break;
        case ControlKind::DigitEdit: {
            auto* edit = new QLineEdit(this);
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
            widget = edit;
            break;
        }
        case ControlKind::Button:
            widget = (entry.id == kUdpButton || entry.id == kSerialButton)
                         ? new SendButton(label, this)
                         : new QPushButton(label, this);
            break;
        case ControlKind::CheckBox:
            widget = new QCheckBox(label, this);
            widget->setStyleSheet(kCheckBoxSheet);
            break;
        case ControlKind::Radio:
            widget = new QRadioButton(label, this);
            break;
        case ControlKind::GroupBox:
            widget = new QGroupBox(label, this);
            widget->setStyleSheet(kGroupBoxSheet);
            break;
        case ControlKind::Label:
            widget = new QLabel(label, this);
            break;
        case ControlKind::List:
            widget = (entry.id == kUpdateList || entry.id == kBaudList) ? new QComboBox(this)
                                                                        : new Cbox(this);
            break;
        case ControlKind::SortedList:
            widget = new EnumCommPort(this, *environment_.boxes, environment_.port_lister);
            break;
        case ControlKind::Trackbar: {
            auto* slider = new QSlider(Qt::Horizontal, this);
            slider->setTickPosition(QSlider::NoTicks);
            widget = slider;
            break;
        }
        case ControlKind::Address:
            widget = new IpAddressField(this);
            break;
        }
        // Only the twelve editors are tab stops. Every other control takes
        // the focus when clicked (a send button must, so that the line being
        // typed is stored before it is sent); labels and frames never do.
        if (entry.kind == ControlKind::Label || entry.kind == ControlKind::GroupBox) {
            widget->setFocusPolicy(Qt::NoFocus);
        } else if (entry.kind != ControlKind::Edit) {
            widget->setFocusPolicy(Qt::ClickFocus);
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            // The template has no default button, and Enter never presses one.
            button->setAutoDefault(false);
            button->setDefault(false);
        }
        QRect place = DialogUnitsToPixels(entry.x, entry.y, entry.w, entry.h);
        if (qobject_cast<QComboBox*>(widget)) {
            // A list's template height includes its drop-down part.
            place.setHeight(std::min(place.height(), DialogUnitsToPixels(0, 0, 0, 14).height()));
        }
        widget->setGeometry(place);
        if (entry.kind == ControlKind::GroupBox) {
            widget->lower();
        }
        if (entry.id != 0) {
            widget->setObjectName(QString::number(entry.id));
            controls_.insert(entry.id, widget);
            ids_.insert(widget, entry.id);
        }
    }
    // Tab walks the line editors, then the caption editors, and wraps.
    QWidget* previous = nullptr;
    for (const auto* ring : {&kLineEditors, &kCaptionEditors}) {
        for (int id : *ring) {
            if (previous != nullptr) {
                setTabOrder(previous, control(id));
            }
            previous = control(id);
        }
    }
    for (QWidget* widget : findChildren<QWidget*>()) {
        if (widget->window() == this && widget->focusPolicy() != Qt::NoFocus) {
            focus_policy_.insert(widget, widget->focusPolicy());
        }
    }
    for (const char* item : UpdateTimeItems()) {
        control<QComboBox>(kUpdateList)->addItem(item);
    }
    for (const char* item : BaudItems()) {
        control<QComboBox>(kBaudList)->addItem(item);
    }
    control<QComboBox>(kUpdateList)->setCurrentIndex(-1);
    control<QComboBox>(kBaudList)->setCurrentIndex(-1);
    control<QComboBox>(kUpdateList)->setMaxVisibleItems(8);
    for (int id : {kSerialButton, kUdpButton}) {
        auto* button = control<SendButton>(id);
        button->transmission().SetSocketsFailureHandler([this, button] {
            Box(button, "Sends out the failure...", ApplicationName(), MessageBoxes::Buttons::Ok,
                MessageBoxes::Icon::None);
        });
    }
}

void CNumiconDlg::ConnectRoutes() {
    auto add = [this](std::initializer_list<int> ids, Event event, Handler handler) {
        for (int id : ids) {
            routes_.push_back({id, event, handler});
        }
    };
    auto add_group = [this](const std::array<int, 6>& ids, Event event, Handler handler) {
        for (int id : ids) {
            routes_.push_back({id, event, handler});
        }
    };
    add({kHelpButton}, Event::Click, &CNumiconDlg::OnHelp);
    add({kSettingsButton}, Event::Click, &CNumiconDlg::OnSettings);
    add({kSaveAndExitButton}, Event::Click, &CNumiconDlg::OnSaveAndExit);
    add_group(kChosenBoxes, Event::Click, &CNumiconDlg::OnLineChosen);
    add({kSeparateRadio}, Event::Click, &CNumiconDlg::OnSeparateSet);
    add({kUnifiedRadio}, Event::Click, &CNumiconDlg::OnUnifiedSet);
    add_group(kDigitCountLists, Event::FocusOut, &CNumiconDlg::OnLineFormatLeft);
    add_group(kPlacesLists, Event::FocusOut, &CNumiconDlg::OnLineFormatLeft);
    add({kUnifiedDigitCount, kUnifiedPlaces}, Event::SelectionChange,
        &CNumiconDlg::OnUnifiedFormatChanged);
    add({kAddressField}, Event::FieldChanged, &CNumiconDlg::OnAddressChanged);
    add_group(kLineEditors, Event::FocusOut, &CNumiconDlg::OnLineEditorLeft);
    add_group(kCaptionEditors, Event::TextChange, &CNumiconDlg::OnCaptionChanged);
    add({kPortList, kBaudList}, Event::FocusOut, &CNumiconDlg::OnPortOrBaud);
    add({kPortList, kBaudList}, Event::SelectionChange, &CNumiconDlg::OnPortOrBaud);
    add({kUpdateList}, Event::FocusOut, &CNumiconDlg::OnUpdateTimeLeft);
    add({kBusAddress}, Event::TextChange, &CNumiconDlg::OnBusAddressChanged);
    add({kDaySlider, kNightSlider}, Event::Released, &CNumiconDlg::OnBrightnessReleased);
    add_group(kFlickerBoxes, Event::Click, &CNumiconDlg::OnFlagClicked);
    add_group(kPointBoxes, Event::Click, &CNumiconDlg::OnFlagClicked);
    add({kUnifiedFlicker, kUnifiedPoint}, Event::Click, &CNumiconDlg::OnUnifiedFlag);
    add({kUdpButton}, Event::Click, &CNumiconDlg::OnSendUdp);
    add({kSerialButton}, Event::Click, &CNumiconDlg::OnSendSerial);
    add({kBrightnessButton}, Event::Click, &CNumiconDlg::OnBrightness);
    add({kProofTimeButton}, Event::Click, &CNumiconDlg::OnProofTime);
    add({kInitializeButton}, Event::Click, &CNumiconDlg::OnInitialize);

    // Signals that only operator actions emit carry the notifications; focus
    // loss comes from the application's focus changes (OnFocusChanged) and
    // the mouse release through the event filter.
    for (const Route& route : routes_) {
        QWidget* widget = control(route.id);
        const int id = route.id;
        switch (route.event) {
        case Event::Click:
            connect(qobject_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, this,
                    [this, id] { Dispatch(id, Event::Click); });
            break;
        case Event::SelectionChange:
            connect(qobject_cast<QComboBox*>(widget), &QComboBox::activated, this,
                    [this, id] { Dispatch(id, Event::SelectionChange); });
            break;
        case Event::TextChange:
            connect(qobject_cast<QLineEdit*>(widget), &QLineEdit::textEdited, this,
                    [this, id] { Dispatch(id, Event::TextChange); });
            break;
        case Event::FieldChanged:
            connect(qobject_cast<IpAddressField*>(widget), &IpAddressField::fieldChanged, this,
                    [this, id] { Dispatch(id, Event::FieldChanged); });
            break;
        case Event::FocusOut:
        case Event::Released:
            break;
        }
    }
}

void CNumiconDlg::Dispatch(int id, Event event) {
    if (program_change_ > 0) {
        return;
    }
    for (const Route& route : routes_) {
        if (route.id == id && route.event == event) {
            (this->*route.handler)(id);
            return;
        }
    }
}

void CNumiconDlg::OnInitDialog() {
    setWindowIcon(ApplicationIcon());
    setWindowTitle(Process().window_title);
    Process().window_width = kClosedWidth;
    ResizeWindow(kClosedWidth);
    Process().settings_path = environment_.settings_path;
    SetupFonts();
    control<Cbox>(kUnifiedDigitCount)->FillDigitCounts();
    control<Cbox>(kUnifiedPlaces)->FillDecimalPlaces();
    for (int line = 1; line <= kLineCount; ++line) {
        control<Cbox>(kDigitCountLists[Index(line)])->FillDigitCounts();
        control<Cbox>(kPlacesLists[Index(line)])->FillDecimalPlaces();
    }
    control<EnumCommPort>(kPortList)->EnumeratePorts();
    for (int id : {kDaySlider, kNightSlider}) {
        control<QSlider>(id)->setRange(0, kBrightnessMax);
        control<QSlider>(id)->setTickInterval(1);
        control<QSlider>(id)->setPageStep(1);
    }
    RefreshFromSettings();
    ++program_change_;
    control(kLineEditors[0])->setFocus(Qt::OtherFocusReason);
    for (int id : kCaptionEditors) {
        SetControlEnabled(control(id), false);
    }
    --program_change_;
    WarnIfSettingsCannotBeSaved();
}

void CNumiconDlg::SetupFonts() {
    line_font_ = QFont(LineEditorFace());
    line_font_.setStyleHint(QFont::TypeWriter);
    line_font_.setWeight(QFont::Black);
    const int line_height = control(kLineEditors[0])->height();
    line_font_ = FitFont(line_font_, line_height - 8);
    caption_font_ = ArialFont(QFont::Black);
    caption_font_ = FitFont(caption_font_, std::min(24, control(kCaptionEditors[0])->height() - 4));
    QPalette palette = control(kLineEditors[0])->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, QColor(240, 0, 0));
        palette.setColor(group, QPalette::Base, QColor(255, 255, 255));
    }
    for (int id : kLineEditors) {
        control(id)->setFont(line_font_);
        control(id)->setPalette(palette);
    }
    for (int id : kCaptionEditors) {
        control(id)->setFont(caption_font_);
    }
}

void CNumiconDlg::WarnIfSettingsCannotBeSaved() {
    const auto directory = environment_.settings_path.parent_path();
    if (lumidex::DirectoryIsWritable(directory.empty() ? "." : directory)) {
        return;
    }
    Box(nullptr,
        QString("Settings cannot be saved: the folder %1 cannot be written. Lumidex shows and "
                "sends what is there, but changes are lost when it closes.")
            .arg(QString::fromStdString(directory.string())),
        Process().window_title, MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Exclamation);
}

MessageBoxes::Answer CNumiconDlg::Box(QWidget* owner, const QString& text, const QString& caption,
                                      MessageBoxes::Buttons buttons, MessageBoxes::Icon icon) {
    return environment_.boxes->Show({owner, text, caption, buttons, icon});
}

void CNumiconDlg::SetControlEnabled(QWidget* widget, bool enabled) {
    // The toolkit would hand the focus of a control being disabled to the
    // next control, which the operator never chose (from "Settings" that is
    // the address field). The focus goes to the dialog first. The window's
    // own focus widget is asked, not hasFocus(): while the password dialog
    // is up the main window is inactive and nothing in it "has" the focus,
    // yet the toolkit still moves it on.
    const QWidget* focused = focusWidget();
    if (!enabled && focused != nullptr && (focused == widget || widget->isAncestorOf(focused))) {
        MoveFocusAside();
    }
    widget->setEnabled(enabled);
}

void CNumiconDlg::MoveFocusAside() {
    setFocus(Qt::OtherFocusReason);
}

void CNumiconDlg::ResizeWindow(int width) {
    KeepFocusInView(width);
    setFixedSize(width, kWindowHeight);
}

void CNumiconDlg::KeepFocusInView(int width) {
    // An operator cannot see what a control beyond the window's edge would
    // do with the keys, so such a control neither keeps nor takes the focus.
    const auto in_view = [this, width](const QWidget* widget) {
        return widget->mapTo(this, QPoint(widget->width() - 1, 0)).x() < width;
    };
    if (const QWidget* focused = focusWidget();
        focused != nullptr && focused != this && !in_view(focused)) {
        MoveFocusAside();
    }
    for (auto it = focus_policy_.cbegin(); it != focus_policy_.cend(); ++it) {
        it.key()->setFocusPolicy(in_view(it.key()) ? it.value() : Qt::NoFocus);
    }
}

int CNumiconDlg::ControlOf(const QWidget* widget) const {
    for (; widget != nullptr && widget != this; widget = widget->parentWidget()) {
        if (const int id = ids_.value(const_cast<QWidget*>(widget), 0)) {
            return id;
        }
    }
    return 0;
}

void CNumiconDlg::OnFocusChanged(QWidget*, QWidget* now) {
    if (now == nullptr || now->window() != this) {
        // A list's drop-down, a message box or another program took the
        // keyboard: no control of the dialog has been left (yet).
        return;
    }
    const int arriving = ControlOf(now);
    const int leaving = std::exchange(focus_holder_, arriving);
    if (leaving != 0 && leaving != arriving) {
        Dispatch(leaving, Event::FocusOut);
    }
}

void CNumiconDlg::LeaveFocusedControl() {
    const int id = focus_holder_ != 0 ? focus_holder_ : ControlOf(focusWidget());
    // The address field counts a leave as a change of its fields.
    Dispatch(id, id == kAddressField ? Event::FieldChanged : Event::FocusOut);
}

void CNumiconDlg::ShowFromStart(QLineEdit* edit) {
    edit->setCursorPosition(0);
}

QString CNumiconDlg::ListText(const QComboBox* list) {
    return list->currentText();
}

void CNumiconDlg::SelectListValue(QComboBox* list, const std::string& value) {
    const int index = list->findText(FromUtf8(value), Qt::MatchFixedString);
    if (index >= 0) {
        list->setCurrentIndex(index);
    }
}

void CNumiconDlg::RefreshFromSettings() {
    ++program_change_;
    for (int line = 1; line <= kLineCount; ++line) {
        SelectListValue(control<QComboBox>(kDigitCountLists[Index(line)]),
                        settings_.Read(keys::kDigitCount[Index(line)]));
    }
    for (int line = 1; line <= kLineCount; ++line) {
        SelectListValue(control<QComboBox>(kPlacesLists[Index(line)]),
                        settings_.Read(keys::kDecimalPlaces[Index(line)]));
    }
    SelectListValue(control<QComboBox>(kUnifiedDigitCount),
                    settings_.Read(keys::kUnifiedDigitCount));
    SelectListValue(control<QComboBox>(kUnifiedPlaces),
                    settings_.Read(keys::kUnifiedDecimalPlaces));
    SelectListValue(control<QComboBox>(kUpdateList), settings_.Read(keys::kUpdateTime));
    control<QLineEdit>(kBusAddress)->setText(FromUtf8(settings_.Read(keys::kBusAddress)));
    ShowFromStart(control<QLineEdit>(kBusAddress));
    for (int line = 1; line <= kLineCount; ++line) {
        const bool chosen = settings_.Read(keys::kLineChosen[Index(line)]) == "Yes";
        control<QCheckBox>(kChosenBoxes[Index(line)])->setChecked(chosen);
        SetControlEnabled(control(kLineEditors[Index(line)]), chosen);
    }
    control<QCheckBox>(kUnifiedPoint)->setChecked(settings_.ReadNumber(keys::kUnifiedPoint) != 0);
    control<QCheckBox>(kUnifiedFlicker)
        ->setChecked(settings_.ReadNumber(keys::kUnifiedFlicker) != 0);
    for (int line = 1; line <= kLineCount; ++line) {
        control<QCheckBox>(kFlickerBoxes[Index(line)])
            ->setChecked(settings_.ReadNumber(keys::kFlicker[Index(line)]) != 0);
    }
    for (int line = 1; line <= kLineCount; ++line) {
        control<QCheckBox>(kPointBoxes[Index(line)])
            ->setChecked(settings_.ReadNumber(keys::kPoint[Index(line)]) != 0);
    }
    auto* address = control<IpAddressField>(kAddressField);
    address->SetAddress(lumidex::AddressFromStored(settings_.ReadNumber(keys::kControllerIp)));
    Process().controller_address = FromUtf8(lumidex::FormatDottedAddress(address->Address()));
    control<QLabel>(kAddressLabel)->setText("IP：  " + Process().controller_address);
    if (settings_.ReadNumber(keys::kMode) == 1) {
        control<QRadioButton>(kSeparateRadio)->setChecked(true);
        EnableSeparateSet();
        settings_.Write(keys::kMode, "1");
    } else {
        control<QRadioButton>(kUnifiedRadio)->setChecked(true);
        EnableUnifiedSet();
        settings_.Write(keys::kMode, "2");
        WriteUnifiedSettings();
    }
    for (int line = 1; line <= kLineCount; ++line) {
        auto* editor = control<QLineEdit>(kLineEditors[Index(line)]);
        editor->setText(FromUtf8(settings_.Read(keys::kLineText[Index(line)])));
        ShowFromStart(editor);
    }
    for (int line = 1; line <= kLineCount; ++line) {
        auto* editor = control<QLineEdit>(kCaptionEditors[Index(line)]);
        editor->setText(FromUtf8(settings_.Read(keys::kCaption[Index(line)])));
        ShowFromStart(editor);
    }
    const std::string port = settings_.Read(keys::kSerialPort);
    const std::string baud = settings_.Read(keys::kBaudRate);
    SelectListValue(control<QComboBox>(kPortList), port);
    SelectListValue(control<QComboBox>(kBaudList), baud);
    auto* port_label = control<QLabel>(kPortLabel);
    port_label->setText(PortLabelText(*port_label, FromUtf8(port), FromUtf8(baud)));
    port_label->setToolTip(FromUtf8(port));
    for (auto [id, key] : {std::pair{kDaySlider, keys::kDayBrightness},
                           std::pair{kNightSlider, keys::kNightBrightness}}) {
        const int level = std::clamp(settings_.ReadNumber(key), 0, kBrightnessMax);
        control<QSlider>(id)->setValue(level);
    }
    --program_change_;
}

void CNumiconDlg::EnableSeparateSet() {
    EnableFormatControls(true);
}

void CNumiconDlg::EnableUnifiedSet() {
    EnableFormatControls(false);
}

void CNumiconDlg::EnableFormatControls(bool separate) {
    ++program_change_;
    for (int line = 1; line <= kLineCount; ++line) {
        for (const auto* group : {&kDigitCountLists, &kPlacesLists, &kFlickerBoxes, &kPointBoxes}) {
            SetControlEnabled(control((*group)[Index(line)]), separate);
        }
    }
    for (int id : {kUnifiedDigitCount, kUnifiedPlaces, kUnifiedFlicker, kUnifiedPoint}) {
        SetControlEnabled(control(id), !separate);
    }
    --program_change_;
}

void CNumiconDlg::WriteUnifiedSettings() {
    const QString digits = ListText(control<QComboBox>(kUnifiedDigitCount));
    const QString places = ListText(control<QComboBox>(kUnifiedPlaces));
    // A list without a choice (its stored value is no item) leaves the keys
    // as they are rather than blanking every line's format; lumidex-send
    // applies the same writes.
    for (const auto& [key, value] :
         lumidex::UnifiedSettingsWrites(ToUtf8(digits), ToUtf8(places))) {
        settings_.Write(key, value);
    }
}

void CNumiconDlg::FormatLineValue(int line) {
    auto* editor = control<QLineEdit>(kLineEditors[Index(line)]);
    const auto formatted = lumidex::FormatLineText(
        ToUtf8(editor->text()), ToUtf8(ListText(control<QComboBox>(kDigitCountLists[Index(line)]))),
        ToUtf8(ListText(control<QComboBox>(kPlacesLists[Index(line)]))));
    if (!formatted) {
        return;
    }
    ++program_change_;
    editor->setText(FromUtf8(*formatted));
    --program_change_;
    settings_.Write(keys::kLineText[Index(line)], *formatted);
}

lumidex::DialogLines CNumiconDlg::DialogState() const {
    lumidex::DialogLines lines;
    for (int line = 1; line <= kLineCount; ++line) {
        lines.texts[Index(line)] = ToUtf8(control<QLineEdit>(kLineEditors[Index(line)])->text());
        lines.flicker[Index(line)] = control<QCheckBox>(kFlickerBoxes[Index(line)])->isChecked();
        lines.point[Index(line)] = control<QCheckBox>(kPointBoxes[Index(line)])->isChecked();
    }
    lines.update_index = control<QComboBox>(kUpdateList)->currentIndex();
    return lines;
}

// ---- Keyboard, settings panel, exit and help --------------------------------

bool CNumiconDlg::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) {
        return QDialog::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            return true; // Escape never closes the window
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OnOK();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (const int id = ids_.value(watched, 0); id == kDaySlider || id == kNightSlider) {
            Dispatch(id, Event::Released);
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void CNumiconDlg::reject() {
    // The toolkit's cancel (Escape) does not end the dialog; only a
    // confirmed close does.
}

void CNumiconDlg::OnOK() {
    QWidget* focused = QApplication::focusWidget();
    const int id = ids_.value(focused, 0);
    for (const auto* ring : {&kLineEditors, &kCaptionEditors}) {
        const int line = LineOf(*ring, id);
        if (line == 0) {
            continue;
        }
        auto* next = control<QLineEdit>((*ring)[Index(line % kLineCount + 1)]);
        next->setFocus(Qt::TabFocusReason);
        next->selectAll();
        return;
    }
}

void CNumiconDlg::closeEvent(QCloseEvent* event) {
    // The question takes the focus, so the control that had it is left
    // first, whatever the answer: what was just typed is stored.
    LeaveFocusedControl();
    const auto answer = Box(nullptr, "Exit the program?", Process().window_title,
                            MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::Exclamation);
    if (answer != MessageBoxes::Answer::Yes) {
        event->ignore();
        return;
    }
    event->accept();
    done(QDialog::Rejected);
}

void CNumiconDlg::OnHelp(int) {
    if (environment_.open_document) {
        environment_.open_document(HelpDocumentPath());
    }
}

void CNumiconDlg::OnSettings(int) {
    PassWord password(this, *environment_.boxes);
    connect(&password, &PassWord::passwordResult, this, &CNumiconDlg::OnPasswordResult,
            Qt::DirectConnection);
    password.exec();
    // Without a window manager nobody hands the keyboard back to this
    // window when the password dialog goes away.
    activateWindow();
}

void CNumiconDlg::OnPasswordResult(bool accepted) {
    if (!accepted) {
        return;
    }
    widen_timer_.start();
    SetControlEnabled(control(kSettingsButton), false);
    for (int id : kCaptionEditors) {
        SetControlEnabled(control(id), true);
    }
}

void CNumiconDlg::OnSaveAndExit(int) {
    // A slide still under way stops here, or its next ticks would widen the
    // closed window again.
    widen_timer_.stop();
    ResizeWindow(kClosedWidth);
    Process().window_width = kClosedWidth;
    SetControlEnabled(control(kSettingsButton), true);
    RefreshFromSettings();
    ++program_change_;
    for (int id : kCaptionEditors) {
        SetControlEnabled(control(id), false);
    }
    --program_change_;
}

// ---- Control persistence --------------------------------------------------

void CNumiconDlg::OnLineChosen(int id) {
    const int line = LineOf(kChosenBoxes, id);
    const bool chosen = control<QCheckBox>(id)->isChecked();
    settings_.Write(keys::kLineChosen[Index(line)], chosen ? "Yes" : "No");
    ++program_change_;
    SetControlEnabled(control(kLineEditors[Index(line)]), chosen);
    --program_change_;
}

void CNumiconDlg::OnFlagClicked(int id) {
    const char* value = control<QCheckBox>(id)->isChecked() ? "1" : "0";
    if (const int line = LineOf(kFlickerBoxes, id)) {
        settings_.Write(keys::kFlicker[Index(line)], value);
    } else {
        settings_.Write(keys::kPoint[Index(LineOf(kPointBoxes, id))], value);
    }
}

void CNumiconDlg::OnUnifiedFlag(int id) {
    const char* value = control<QCheckBox>(id)->isChecked() ? "1" : "0";
    const bool flicker = id == kUnifiedFlicker;
    settings_.Write(flicker ? keys::kUnifiedFlicker : keys::kUnifiedPoint, value);
    for (const auto& key : flicker ? keys::kFlicker : keys::kPoint) {
        settings_.Write(key, value);
    }
    RefreshFromSettings();
}

void CNumiconDlg::OnCaptionChanged(int id) {
    settings_.Write(keys::kCaption[Index(LineOf(kCaptionEditors, id))],
                    ToUtf8(control<QLineEdit>(id)->text()));
}

void CNumiconDlg::OnBusAddressChanged(int id) {
    settings_.Write(keys::kBusAddress, ToUtf8(control<QLineEdit>(id)->text()));
}

void CNumiconDlg::OnAddressChanged(int id) {
    const std::uint32_t address = control<IpAddressField>(id)->Address();
    settings_.Write(keys::kControllerIp, std::to_string(lumidex::StoredAddressValue(address)));
    RefreshFromSettings();
}

void CNumiconDlg::OnPortOrBaud(int id) {
    const auto& key = id == kPortList ? keys::kSerialPort : keys::kBaudRate;
    const QComboBox* list = control<QComboBox>(id);
    // A list without a choice (the stored port is a pseudo-terminal or has
    // gone away) keeps the stored value, as the unified lists do.
    if (list->currentIndex() < 0 || ListText(list).isEmpty()) {
        return;
    }
    settings_.Write(key, ToUtf8(ListText(list)));
    RefreshFromSettings();
}

void CNumiconDlg::OnUpdateTimeLeft(int id) {
    settings_.Write(keys::kUpdateTime, ToUtf8(ListText(control<QComboBox>(id))));
}

void CNumiconDlg::OnBrightnessReleased(int id) {
    const auto& key = id == kDaySlider ? keys::kDayBrightness : keys::kNightBrightness;
    const int position = control<QSlider>(id)->value();
    const int stored = lumidex::LeadingNumber(settings_.Read(key, keys::kSliderCompareFallback));
    if (position != stored) {
        settings_.Write(key, std::to_string(position));
    }
}

// ---- Line formats -------------------------------------------------------------

void CNumiconDlg::OnLineEditorLeft(int id) {
    FormatLineValue(LineOf(kLineEditors, id));
}

void CNumiconDlg::OnSeparateSet(int) {
    EnableSeparateSet();
    settings_.Write(keys::kMode, "1");
    RefreshFromSettings();
}

void CNumiconDlg::OnUnifiedSet(int) {
    EnableUnifiedSet();
    settings_.Write(keys::kMode, "2");
    const char* flicker = control<QCheckBox>(kUnifiedFlicker)->isChecked() ? "1" : "0";
    settings_.Write(keys::kUnifiedFlicker, flicker);
    for (const auto& key : keys::kFlicker) {
        settings_.Write(key, flicker);
    }
    const char* point = control<QCheckBox>(kUnifiedPoint)->isChecked() ? "1" : "0";
    settings_.Write(keys::kUnifiedPoint, point);
    for (const auto& key : keys::kPoint) {
        settings_.Write(key, point);
    }
    WriteUnifiedSettings();
    RefreshFromSettings();
    for (int line = 1; line <= kLineCount; ++line) {
        FormatLineValue(line);
    }
}

void CNumiconDlg::OnLineFormatLeft(int id) {
    const bool digits_list = LineOf(kDigitCountLists, id) != 0;
    const int line = digits_list ? LineOf(kDigitCountLists, id) : LineOf(kPlacesLists, id);
    auto* list = control<QComboBox>(id);
    if (lumidex::PlacesAccepted(ToUtf8(ListText(control<QComboBox>(kDigitCountLists[Index(line)]))),
                                ToUtf8(ListText(control<QComboBox>(kPlacesLists[Index(line)]))))) {
        settings_.Write(digits_list ? keys::kDigitCount[Index(line)]
                                    : keys::kDecimalPlaces[Index(line)],
                        ToUtf8(ListText(list)));
    } else {
        Box(nullptr, kPlacesMessage, Process().window_title, MessageBoxes::Buttons::Ok,
            MessageBoxes::Icon::None);
        ++program_change_;
        SelectListValue(list, digits_list ? "8" : "0");
        --program_change_;
    }
    FormatLineValue(line);
}

void CNumiconDlg::OnUnifiedFormatChanged(int id) {
    if (lumidex::PlacesAccepted(ToUtf8(ListText(control<QComboBox>(kUnifiedDigitCount))),
                                ToUtf8(ListText(control<QComboBox>(kUnifiedPlaces))))) {
        WriteUnifiedSettings();
        RefreshFromSettings();
    } else {
        Box(nullptr, kPlacesMessage, Process().window_title, MessageBoxes::Buttons::Ok,
            MessageBoxes::Icon::None);
        ++program_change_;
        SelectListValue(control<QComboBox>(id), id == kUnifiedDigitCount ? "8" : "0");
        --program_change_;
    }
    for (int line = 1; line <= kLineCount; ++line) {
        FormatLineValue(line);
    }
}

// ---- Sending --------------------------------------------------------------------

std::string CNumiconDlg::ControllerAddressText() const {
    return lumidex::FormatDottedAddress(control<IpAddressField>(kAddressField)->Address());
}

void CNumiconDlg::ShowSendResult(bool accepted, std::uint8_t address) {
    const char* text = accepted       ? "Sent successfully!"
                       : address == 0 ? "Broadcast Send."
                                      : "Send failed!";
    Box(nullptr, text, Process().window_title, MessageBoxes::Buttons::Ok, MessageBoxes::Icon::None);
}

void CNumiconDlg::SendContent(int mode) {
    const auto built = lumidex::BuildContentFrame(DialogState(), settings_);
    const int button = mode == lumidex::kModeUdp ? kUdpButton : kSerialButton;
    std::string target;
    if (mode == lumidex::kModeUdp) {
        target = ControllerAddressText();
        Process().controller_address = FromUtf8(target);
    } else {
        target = settings_.Read(keys::kSerialPort);
        current_baud_ = settings_.ReadNumber(keys::kBaudRate);
    }
    if (!built.frame) {
        // Only a hand-edited settings file can make an oversized frame; it is
        // not sent, and the operator is told it failed.
        ShowSendResult(false, lumidex::ReadBusAddress(settings_));
        return;
    }
    const lumidex::Frame& frame = *built.frame;
    auto& send = control<SendButton>(button)->transmission();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool accepted = send.TransmitFrame(frame, target, mode, current_baud_);
    if (!accepted) {
        accepted = send.TransmitFrame(frame, target, mode, current_baud_);
    }
    QApplication::restoreOverrideCursor();
    ShowSendResult(accepted, frame[2]);
}

void CNumiconDlg::OnSendUdp(int) {
    SendContent(lumidex::kModeUdp);
}

void CNumiconDlg::OnSendSerial(int) {
    SendContent(lumidex::kModeSerial);
}

void CNumiconDlg::SendCommandSerialFirst(const lumidex::Frame& frame) {
    // Once over each link, serial first, at the current baud rate; the
    // results are not looked at.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    control<SendButton>(kSerialButton)
        ->transmission()
        .TransmitFrame(frame, settings_.Read(keys::kSerialPort), lumidex::kModeSerial,
                       current_baud_);
    control<SendButton>(kUdpButton)
        ->transmission()
        .TransmitFrame(frame, ControllerAddressText(), lumidex::kModeUdp, current_baud_);
    QApplication::restoreOverrideCursor();
}

void CNumiconDlg::OnBrightness(int) {
    SendCommandSerialFirst(lumidex::BuildBrightnessFrame(settings_));
}

void CNumiconDlg::OnProofTime(int) {
    SendCommandSerialFirst(lumidex::BuildClockFrame(settings_, environment_.local_time()));
}

void CNumiconDlg::OnInitialize(int) {
    if (Box(nullptr, "Initialize control card", Process().window_title,
            MessageBoxes::Buttons::YesNo,
            MessageBoxes::Icon::Warning) != MessageBoxes::Answer::Yes) {
        return;
    }
    const lumidex::Frame frame = lumidex::BuildInitialiseFrame();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    control<SendButton>(kUdpButton)
        ->transmission()
        .TransmitFrame(frame, ControllerAddressText(), lumidex::kModeUdp, current_baud_);
    const std::string port = settings_.Read(keys::kSerialPort);
    current_baud_ = settings_.ReadNumber(keys::kBaudRate);
    control<SendButton>(kSerialButton)
        ->transmission()
        .TransmitFrame(frame, port, lumidex::kModeSerial, current_baud_);
    QApplication::restoreOverrideCursor();
}
