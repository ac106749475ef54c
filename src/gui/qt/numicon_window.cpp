#include "gui/qt/numicon_window.h"

#include "dialog/control_ids.h"
#include "dialog/dialog_template.h"
#include "dialog/editor_look.h"
#include "gui/qt/app_globals.h"
#include "gui/qt/controls.h"
#include "gui/qt/dialog_font.h"
#include "gui/qt/dialog_units.h"
#include "gui/qt/password.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <algorithm>

namespace {

namespace dialog = lumidex::dialog;
using dialog::ControlKind;
using dialog::Notification;

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// The line (1..6) whose editor this is, or 0.
int LineOfEditor(int id) {
    const auto& editors = dialog::kLineEditors;
    const auto it = std::find(editors.begin(), editors.end(), id);
    return it == editors.end() ? 0 : static_cast<int>(it - editors.begin()) + 1;
}

// OnlyDigital<line> for a display line's editor, a plain edit for a caption.
template <int... Lines>
QLineEdit* MakeLineEditor(int line, QWidget* parent, const OnlyDigitalEditor::KeyRule& rule,
                          std::integer_sequence<int, Lines...>) {
    QLineEdit* editor = nullptr;
    ((editor = line == Lines ? new OnlyDigital<Lines>(parent, rule) : editor), ...);
    return editor != nullptr ? editor : new QLineEdit(parent);
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
    const QString without_port = FromUtf8(dialog::PortLabelText("", ToUtf8(baud)));
    const QFontMetrics metrics = label.fontMetrics();
    const int room = label.contentsRect().width() - metrics.horizontalAdvance(without_port);
    const QString shown = metrics.elidedText(port, Qt::ElideMiddle, std::max(room, 0));
    return FromUtf8(dialog::PortLabelText(ToUtf8(shown), ToUtf8(baud)));
}

// Windows' dialogs put a check box's label 3 pixels after the box and draw a
// group's title on its frame line; the toolkit's style does neither.
constexpr const char* kCheckBoxSheet = "QCheckBox { spacing: 3px; }";
constexpr const char* kGroupBoxSheet =
    "QGroupBox { border: 1px solid palette(mid); margin-top: 6px; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
    " left: 6px; padding: 0px 2px; }";

QColor FromColour(dialog::Colour colour) {
    return QColor(colour.red, colour.green, colour.blue);
}

// The line editors' face, else its stand-in, else the platform's fixed-pitch
// face.
QString LineEditorFace() {
    const QStringList families = QFontDatabase::families();
    for (std::string_view face : {dialog::kLineEditorFont.face, dialog::kLineEditorFont.stand_in}) {
        if (families.contains(FromUtf8(face))) {
            return FromUtf8(face);
        }
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

} // namespace

NumiconWindow::NumiconWindow(Environment environment)
    : QDialog(nullptr), environment_(std::move(environment)),
      behaviour_(*this, {environment_.settings_path, environment_.port_lister,
                         HelpDocumentPath().toStdString(), ToUtf8(ApplicationName()),
                         environment_.settings_place}) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    CreateControls();
    ConnectRoutes();
    connect(&slide_timer_, &QTimer::timeout, this, [this] { behaviour_.OnSlideTick(); });
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &NumiconWindow::OnFocusChanged);
    setWindowIcon(ApplicationIcon());
    setWindowTitle(FromUtf8(dialog::kWindowTitle));
    SetupFonts();
    behaviour_.OnInitDialog();
    // The event loop that shows the window runs this first.
    QTimer::singleShot(0, this, [this] { behaviour_.OnWindowShown(); });
}

NumiconWindow::~NumiconWindow() {
    // Hiding moves the focus, which must not reach handlers of a dialog
    // that is going away.
    alive_ = false;
    qApp->removeEventFilter(this);
    disconnect(qApp, nullptr, this, nullptr);
    for (QWidget* widget : std::as_const(controls_)) {
        widget->disconnect(this);
    }
    hide();
}

void NumiconWindow::Forward(int id, Notification event) {
    if (alive_) {
        behaviour_.Notify(id, event);
    }
}

void NumiconWindow::CreateControls() {
    const OnlyDigitalEditor::KeyRule key_rule = [this](int line, const lumidex::EditorText& before,
                                                       char16_t key) {
        return behaviour_.OnLineKey(line, before, key);
    };
    setFont(DialogFont());
    for (const dialog::ControlSpec& entry : dialog::MainDialogControls()) {
        // "&" in a label is shown as it stands, not as a mnemonic.
        const QString label = QString::fromUtf8(entry.label).replace("&", "&&");
        QWidget* widget = nullptr;
        switch (entry.kind) {
        case ControlKind::Edit:
        case ControlKind::PasswordEdit:
            widget = MakeLineEditor(LineOfEditor(entry.id), this, key_rule,
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
        case ControlKind::HiddenButton: {
            auto* button = new QPushButton(label, this);
            // The template has no default button, and Enter never presses one.
            button->setAutoDefault(false);
            button->setDefault(false);
            widget = button;
            break;
        }
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
            widget = new QComboBox(this);
            break;
        case ControlKind::SortedList:
            widget = new EnumCommPort(this);
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
    for (const auto* ring : {&dialog::kLineEditors, &dialog::kCaptionEditors}) {
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
    control<QComboBox>(dialog::kUpdateList)->setMaxVisibleItems(8);
}

void NumiconWindow::ConnectRoutes() {
    // Signals that only operator actions emit carry the notifications; focus
    // loss comes from the application's focus changes (OnFocusChanged) and
    // the mouse release through the event filter.
    for (const dialog::CNumiconDlg::Route& route : dialog::CNumiconDlg::Routes()) {
        QWidget* widget = control(route.id);
        const int id = route.id;
        switch (route.event) {
        case Notification::Click:
            connect(qobject_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, this,
                    [this, id] { Forward(id, Notification::Click); });
            break;
        case Notification::SelectionChange:
            connect(qobject_cast<QComboBox*>(widget), &QComboBox::activated, this,
                    [this, id] { Forward(id, Notification::SelectionChange); });
            break;
        case Notification::TextChange:
            connect(qobject_cast<QLineEdit*>(widget), &QLineEdit::textEdited, this,
                    [this, id] { Forward(id, Notification::TextChange); });
            break;
        case Notification::FieldChanged:
            connect(qobject_cast<IpAddressField*>(widget), &IpAddressField::fieldChanged, this,
                    [this, id] { Forward(id, Notification::FieldChanged); });
            break;
        case Notification::FocusOut:
        case Notification::Released:
            break;
        }
    }
}

void NumiconWindow::SetupFonts() {
    // The toolkit cannot ask for a character width: each font is as high as
    // the template's font where the editor has room for it, else as high as
    // fits inside the editor's frame.
    const auto weight = static_cast<QFont::Weight>(dialog::kEditorFontWeight);
    line_font_ = QFont(LineEditorFace());
    line_font_.setStyleHint(QFont::TypeWriter);
    line_font_.setWeight(weight);
    line_font_ = FitFont(line_font_, std::min(dialog::kLineEditorFont.height,
                                              control(dialog::kLineEditors[0])->height() - 8));
    caption_font_ = ArialFont(weight);
    caption_font_ =
        FitFont(caption_font_, std::min(dialog::kCaptionEditorFont.height,
                                        control(dialog::kCaptionEditors[0])->height() - 4));
    QPalette palette = control(dialog::kLineEditors[0])->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, FromColour(dialog::kLineEditorText));
        palette.setColor(group, QPalette::Base, FromColour(dialog::kLineEditorBackground));
    }
    for (int id : dialog::kLineEditors) {
        control(id)->setFont(line_font_);
        control(id)->setPalette(palette);
    }
    for (int id : dialog::kCaptionEditors) {
        control(id)->setFont(caption_font_);
    }
}

// ---- Keyboard, focus and closing --------------------------------------------

bool NumiconWindow::eventFilter(QObject* watched, QEvent* event) {
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
            behaviour_.OnOK();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (const int id = ids_.value(watched, 0);
            id == dialog::kDaySlider || id == dialog::kNightSlider) {
            Forward(id, Notification::Released);
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void NumiconWindow::reject() {
    // The toolkit's cancel (Escape) does not end the dialog; only a
    // confirmed close does.
}

void NumiconWindow::closeEvent(QCloseEvent* event) {
    // The question takes the focus, so the control that had it is left
    // first, whatever the answer: what was just typed is stored.
    LeaveFocusedControl();
    if (!behaviour_.OnCloseRequest()) {
        event->ignore();
        return;
    }
    event->accept();
    done(QDialog::Rejected);
}

int NumiconWindow::ControlOf(const QWidget* widget) const {
    for (; widget != nullptr && widget != this; widget = widget->parentWidget()) {
        if (const int id = ids_.value(const_cast<QWidget*>(widget), 0)) {
            return id;
        }
    }
    return 0;
}

void NumiconWindow::OnFocusChanged(QWidget*, QWidget* now) {
    if (now == nullptr || now->window() != this) {
        // A list's drop-down, a message box or another program took the
        // keyboard: no control of the dialog has been left (yet).
        return;
    }
    const int arriving = ControlOf(now);
    const int leaving = std::exchange(focus_holder_, arriving);
    if (leaving != 0 && leaving != arriving) {
        Forward(leaving, Notification::FocusOut);
    }
}

void NumiconWindow::LeaveFocusedControl() {
    const int id = focus_holder_ != 0 ? focus_holder_ : ControlOf(focusWidget());
    // The address field counts a leave as a change of its fields.
    Forward(id, id == dialog::kAddressField ? Notification::FieldChanged : Notification::FocusOut);
}

void NumiconWindow::MoveFocusAside() {
    QDialog::setFocus(Qt::OtherFocusReason);
}

void NumiconWindow::KeepFocusInView(int width) {
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

// ---- The view operations ------------------------------------------------------

std::string NumiconWindow::Text(int id) const {
    if (const auto* label = control<QLabel>(id)) {
        return ToUtf8(label->text());
    }
    return ToUtf8(control<QLineEdit>(id)->text());
}

void NumiconWindow::SetText(int id, const std::string& text) {
    if (auto* label = control<QLabel>(id)) {
        label->setText(FromUtf8(text));
        return;
    }
    control<QLineEdit>(id)->setText(FromUtf8(text));
}

void NumiconWindow::ShowFromStart(int id) {
    control<QLineEdit>(id)->setCursorPosition(0);
}

bool NumiconWindow::Checked(int id) const {
    return control<QAbstractButton>(id)->isChecked();
}

void NumiconWindow::SetChecked(int id, bool checked) {
    control<QAbstractButton>(id)->setChecked(checked);
}

int NumiconWindow::ListIndex(int id) const {
    return control<QComboBox>(id)->currentIndex();
}

std::string NumiconWindow::ListText(int id) const {
    return ToUtf8(control<QComboBox>(id)->currentText());
}

void NumiconWindow::SelectListText(int id, const std::string& text) {
    auto* list = control<QComboBox>(id);
    if (const int index = list->findText(FromUtf8(text), Qt::MatchFixedString); index >= 0) {
        list->setCurrentIndex(index);
    }
}

void NumiconWindow::FillList(int id, const std::vector<std::string>& items) {
    auto* list = control<QComboBox>(id);
    list->clear();
    for (const std::string& item : items) {
        list->addItem(FromUtf8(item));
    }
    list->setCurrentIndex(-1);
}

int NumiconWindow::SliderPosition(int id) const {
    return control<QSlider>(id)->value();
}

void NumiconWindow::SetSliderPosition(int id, int position) {
    control<QSlider>(id)->setValue(position);
}

void NumiconWindow::SetSliderRange(int id, int min, int max) {
    auto* slider = control<QSlider>(id);
    slider->setRange(min, max);
    slider->setTickInterval(1);
    slider->setPageStep(1);
}

std::uint32_t NumiconWindow::AddressValue(int id) const {
    return control<IpAddressField>(id)->Address();
}

void NumiconWindow::SetAddressValue(int id, std::uint32_t address) {
    control<IpAddressField>(id)->SetAddress(address);
}

void NumiconWindow::Enable(int id, bool enabled) {
    // The toolkit would hand the focus of a control being disabled to the
    // next control, which the operator never chose (from "Settings" that is
    // the address field). The focus goes to the dialog first. The window's
    // own focus widget is asked, not hasFocus(): while the password dialog
    // is up the main window is inactive and nothing in it "has" the focus,
    // yet the toolkit still moves it on.
    QWidget* widget = control(id);
    const QWidget* focused = focusWidget();
    if (!enabled && focused != nullptr && (focused == widget || widget->isAncestorOf(focused))) {
        MoveFocusAside();
    }
    widget->setEnabled(enabled);
}

int NumiconWindow::FocusedControl() const {
    return ids_.value(QApplication::focusWidget(), 0);
}

void NumiconWindow::SetFocus(int id) {
    control(id)->setFocus(Qt::OtherFocusReason);
}

void NumiconWindow::FocusAndSelectAll(int id) {
    auto* edit = control<QLineEdit>(id);
    edit->setFocus(Qt::TabFocusReason);
    edit->selectAll();
}

void NumiconWindow::ShowPortLabel(const std::string& port, const std::string& baud) {
    auto* label = control<QLabel>(dialog::kPortLabel);
    label->setText(PortLabelText(*label, FromUtf8(port), FromUtf8(baud)));
    label->setToolTip(FromUtf8(port));
}

void NumiconWindow::SetWindowWidth(int width) {
    KeepFocusInView(width);
    setFixedSize(width, dialog::kWindowHeight);
}

void NumiconWindow::StartSlideTimer(int interval_ms) {
    slide_timer_.start(interval_ms);
}

void NumiconWindow::StopSlideTimer() {
    slide_timer_.stop();
}

dialog::BoxAnswer NumiconWindow::ShowMessage(const dialog::BoxRequest& box) {
    QWidget* owner = box.owner == dialog::kPasswordDialogOwner ? password_
                     : box.owner != 0                          ? control(box.owner)
                                                               : nullptr;
    return environment_.boxes->Show(owner, box);
}

void NumiconWindow::RunPasswordDialog() {
    PassWord password(this);
    connect(
        &password, &PassWord::passwordEntered, this,
        [this](const QString& typed) { behaviour_.OnPasswordOk(ToUtf8(typed)); },
        Qt::DirectConnection);
    password_ = &password;
    password.exec();
    password_ = nullptr;
    // Without a window manager nobody hands the keyboard back to this
    // window when the password dialog goes away.
    activateWindow();
}

void NumiconWindow::EndPasswordDialog() {
    if (password_ != nullptr) {
        password_->done(QDialog::Rejected);
    }
}

void NumiconWindow::ClearPasswordEdit() {
    if (password_ != nullptr) {
        password_->ClearEdit();
    }
}

void NumiconWindow::OpenDocument(const std::filesystem::path& path) {
    if (environment_.open_document) {
        environment_.open_document(FromUtf8(path.string()));
    }
}

lumidex::ClockTime NumiconWindow::LocalTime() const {
    return environment_.local_time();
}

void NumiconWindow::SetBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}
