#include "dialog/numicon_dlg.h"

#include "dialog/control_ids.h"
#include "dialog/dialog_template.h"
#include "lines/line_format.h"
#include "link/address.h"
#include "settings/file_io.h"
#include "settings/location.h"
#include "settings/profile.h"

#include <algorithm>
#include <cctype>

namespace lumidex::dialog {
namespace {

using N = Notification;
using D = CNumiconDlg;

constexpr std::string_view kPlacesMessage =
    "Please note that the display Places must be larger than the decimal Places！";
constexpr std::string_view kExitQuestion = "Exit the program?";
constexpr std::string_view kInitializeQuestion = "Initialize control card";
constexpr std::string_view kSocketsFailure = "Sends out the failure...";
constexpr std::string_view kNoSerialPorts = "The serial port is not found in this system.";
constexpr std::string_view kAddressLabelPrefix = "IP：  ";
// The password that opens the settings panel.
constexpr std::string_view kPassword = "v503";
constexpr std::string_view kWrongPassword = "Wrong password!";

// The line (1..6) whose control this is in the given group, or 0.
int LineOf(const LineIds& group, int id) {
    const auto it = std::find(group.begin(), group.end(), id);
    return it == group.end() ? 0 : static_cast<int>(it - group.begin()) + 1;
}

std::size_t Index(int line) {
    return static_cast<std::size_t>(line - 1);
}

const char* FlagValue(bool checked) {
    return checked ? "1" : "0";
}

std::vector<std::string> Items(std::span<const std::string_view> items) {
    return {items.begin(), items.end()};
}

bool FileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

} // namespace

std::string PortLabelText(std::string_view port, std::string_view baud) {
    return "Port:  " + std::string(port) + "  Boud: " + std::string(baud);
}

CNumiconDlg::CNumiconDlg(DialogView& view, Environment environment)
    : view_(view), environment_(std::move(environment)),
      settings_existed_(FileExists(environment_.settings_path)),
      settings_(environment_.settings_path), window_width_(kClosedWidth) {}

std::vector<CNumiconDlg::Route> CNumiconDlg::MakeRoutes() {
    std::vector<D::Route> routes;
    auto add = [&routes](std::initializer_list<int> ids, N event, D::Handler handler) {
        for (int id : ids) {
            routes.push_back({id, event, handler});
        }
    };
    auto add_group = [&routes](const LineIds& ids, N event, D::Handler handler) {
        for (int id : ids) {
            routes.push_back({id, event, handler});
        }
    };
    add({kHelpButton}, N::Click, &D::OnHelp);
    add({kSettingsButton}, N::Click, &D::OnSettings);
    add({kSaveAndExitButton}, N::Click, &D::OnSaveAndExit);
    add_group(kChosenBoxes, N::Click, &D::OnLineChosen);
    add({kSeparateRadio}, N::Click, &D::OnSeparateSet);
    add({kUnifiedRadio}, N::Click, &D::OnUnifiedSet);
    add_group(kDigitCountLists, N::FocusOut, &D::OnLineFormatLeft);
    add_group(kPlacesLists, N::FocusOut, &D::OnLineFormatLeft);
    add({kUnifiedDigitCount, kUnifiedPlaces}, N::SelectionChange, &D::OnUnifiedFormatChanged);
    add({kAddressField}, N::FieldChanged, &D::OnAddressChanged);
    add_group(kLineEditors, N::FocusOut, &D::OnLineEditorLeft);
    add_group(kCaptionEditors, N::TextChange, &D::OnCaptionChanged);
    add({kPortList, kBaudList}, N::FocusOut, &D::OnPortOrBaud);
    add({kPortList, kBaudList}, N::SelectionChange, &D::OnPortOrBaud);
    add({kUpdateList}, N::FocusOut, &D::OnUpdateTimeLeft);
    add({kBusAddress}, N::TextChange, &D::OnBusAddressChanged);
    add({kDaySlider, kNightSlider}, N::Released, &D::OnBrightnessReleased);
    add_group(kFlickerBoxes, N::Click, &D::OnFlagClicked);
    add_group(kPointBoxes, N::Click, &D::OnFlagClicked);
    add({kUnifiedFlicker, kUnifiedPoint}, N::Click, &D::OnUnifiedFlag);
    add({kUdpButton}, N::Click, &D::OnSendUdp);
    add({kSerialButton}, N::Click, &D::OnSendSerial);
    add({kBrightnessButton}, N::Click, &D::OnBrightness);
    add({kProofTimeButton}, N::Click, &D::OnProofTime);
    add({kInitializeButton}, N::Click, &D::OnInitialize);
    return routes;
}

std::span<const CNumiconDlg::Route> CNumiconDlg::Routes() {
    static const std::vector<Route> routes = MakeRoutes();
    return routes;
}

void CNumiconDlg::Notify(int id, Notification event) {
    if (program_changing()) {
        return;
    }
    for (const Route& route : Routes()) {
        if (route.id == id && route.event == event) {
            (this->*route.handler)(id);
            SayIfSettingsLocked();
            return;
        }
    }
}

BoxAnswer CNumiconDlg::Box(int owner, const std::string& text, const std::string& caption,
                           BoxButtons buttons, BoxIcon icon) {
    return view_.ShowMessage({owner, text, caption, buttons, icon});
}

void CNumiconDlg::OnInitDialog() {
    window_width_ = kClosedWidth;
    view_.SetWindowWidth(kClosedWidth);
    {
        const ProgramChange change(*this);
        view_.FillList(kUpdateList, Items(kUpdateTimeItems));
        view_.FillList(kBaudList, Items(kBaudItems));
        view_.FillList(kUnifiedDigitCount, Items(kDigitCountItems));
        view_.FillList(kUnifiedPlaces, Items(kDecimalPlaceItems));
        for (int line = 1; line <= kLineCount; ++line) {
            view_.FillList(kDigitCountLists[Index(line)], Items(kDigitCountItems));
            view_.FillList(kPlacesLists[Index(line)], Items(kDecimalPlaceItems));
        }
        EnumeratePorts();
        for (int id : {kDaySlider, kNightSlider}) {
            view_.SetSliderRange(id, kBrightnessMin, kBrightnessMax);
        }
    }
    RefreshFromSettings();
    {
        const ProgramChange change(*this);
        view_.SetFocus(kLineEditors[0]);
        for (int id : kCaptionEditors) {
            view_.Enable(id, false);
        }
    }
    WarnIfSettingsCannotBeSaved();
    SayIfSettingsLocked();
}

void CNumiconDlg::OnWindowShown() {
    // The first settings refresh has made the file, if it could.
    const std::string notice =
        SettingsPlaceNotice({environment_.settings_path, environment_.settings_place},
                            settings_existed_, FileExists(environment_.settings_path));
    if (!notice.empty()) {
        Box(0, notice, std::string(kWindowTitle));
    }
}

void CNumiconDlg::EnumeratePorts() {
    auto ports = environment_.port_lister ? environment_.port_lister() : std::nullopt;
    if (!ports) {
        Box(kPortList, std::string(kNoSerialPorts), environment_.application_name);
        return;
    }
    // The order of the platform's sorted list: letter case aside, character
    // by character.
    std::stable_sort(ports->begin(), ports->end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
    });
    view_.FillList(kPortList, *ports);
}

void CNumiconDlg::WarnIfSettingsCannotBeSaved() {
    const SettingsFileCheck check = CheckSettingsFile(environment_.settings_path);
    std::string reason = check.reason;
    if (check.access == SettingsAccess::ReadWrite) {
        const auto directory = environment_.settings_path.parent_path();
        if (DirectoryIsWritable(directory.empty() ? "." : directory)) {
            return;
        }
        reason = "the folder " + directory.string() + " cannot be written";
    }
    const char* consequence =
        check.access == SettingsAccess::NotTrusted
            ? " Lumidex starts on its defaults, and changes are lost when it closes."
            : " Lumidex shows and sends what is there, but changes are lost when it closes.";
    Box(0, "Settings cannot be saved: " + reason + "." + consequence, std::string(kWindowTitle),
        BoxButtons::Ok, BoxIcon::Exclamation);
}

void CNumiconDlg::SayIfSettingsLocked() {
    const bool held = settings_.lock_held();
    const bool tell = held && !told_lock_held_;
    // Noted before the box: notifications handled while it is up come here
    // again.
    told_lock_held_ = held;
    if (tell) {
        Box(0,
            "Settings cannot be saved: " + LockedReason(environment_.settings_path) +
                ". Lumidex works on, but changes made while it is held are not stored.",
            std::string(kWindowTitle), BoxButtons::Ok, BoxIcon::Exclamation);
    }
}

void CNumiconDlg::RefreshFromSettings() {
    const ProgramChange change(*this);
    // Every control's key at one moment: one reading of the file, renewed
    // after the refresh's own writes, instead of one per key.
    const SettingsFile::Snapshot snapshot(settings_);
    const DialogLines shown = LinesAfterRefresh(settings_);
    for (int line = 1; line <= kLineCount; ++line) {
        view_.SelectListText(kDigitCountLists[Index(line)],
                             settings_.Read(keys::kDigitCount[Index(line)]));
    }
    for (int line = 1; line <= kLineCount; ++line) {
        view_.SelectListText(kPlacesLists[Index(line)],
                             settings_.Read(keys::kDecimalPlaces[Index(line)]));
    }
    view_.SelectListText(kUnifiedDigitCount, settings_.Read(keys::kUnifiedDigitCount));
    view_.SelectListText(kUnifiedPlaces, settings_.Read(keys::kUnifiedDecimalPlaces));
    if (shown.update_index >= 0) {
        view_.SelectListText(
            kUpdateList,
            std::string(kUpdateTimeItems[static_cast<std::size_t>(shown.update_index)]));
    }
    view_.SetText(kBusAddress, settings_.Read(keys::kBusAddress));
    view_.ShowFromStart(kBusAddress);
    for (int line = 1; line <= kLineCount; ++line) {
        const bool chosen =
            keys::IsChosenForRefresh(settings_.Read(keys::kLineChosen[Index(line)]));
        view_.SetChecked(kChosenBoxes[Index(line)], chosen);
        view_.Enable(kLineEditors[Index(line)], chosen);
    }
    view_.SetChecked(kUnifiedPoint, settings_.ReadNumber(keys::kUnifiedPoint) != 0);
    view_.SetChecked(kUnifiedFlicker, settings_.ReadNumber(keys::kUnifiedFlicker) != 0);
    for (int line = 1; line <= kLineCount; ++line) {
        view_.SetChecked(kFlickerBoxes[Index(line)], shown.flicker[Index(line)]);
    }
    for (int line = 1; line <= kLineCount; ++line) {
        view_.SetChecked(kPointBoxes[Index(line)], shown.point[Index(line)]);
    }
    view_.SetAddressValue(kAddressField,
                          AddressFromStored(settings_.ReadNumber(keys::kControllerIp)));
    controller_address_ = ControllerAddressText();
    view_.SetText(kAddressLabel, std::string(kAddressLabelPrefix) + controller_address_);
    const bool separate = keys::IsSeparateMode(settings_.ReadNumber(keys::kMode));
    view_.SetChecked(separate ? kUnifiedRadio : kSeparateRadio, false);
    view_.SetChecked(separate ? kSeparateRadio : kUnifiedRadio, true);
    EnableFormatControls(separate);
    // The same writes the board service makes a new board's Config.ini
    // with, so the dialog opens such a file without changing it.
    for (const auto& [key, value] : SettingsRefreshWrites(settings_)) {
        settings_.Write(key, value);
    }
    for (int line = 1; line <= kLineCount; ++line) {
        view_.SetText(kLineEditors[Index(line)], shown.texts[Index(line)]);
        view_.ShowFromStart(kLineEditors[Index(line)]);
    }
    for (int line = 1; line <= kLineCount; ++line) {
        view_.SetText(kCaptionEditors[Index(line)], settings_.Read(keys::kCaption[Index(line)]));
        view_.ShowFromStart(kCaptionEditors[Index(line)]);
    }
    const std::string port = settings_.Read(keys::kSerialPort);
    const std::string baud = settings_.Read(keys::kBaudRate);
    view_.SelectListText(kPortList, port);
    view_.SelectListText(kBaudList, baud);
    view_.ShowPortLabel(port, baud);
    for (auto [id, key] : {std::pair{kDaySlider, keys::kDayBrightness},
                           std::pair{kNightSlider, keys::kNightBrightness}}) {
        view_.SetSliderPosition(
            id, std::clamp(settings_.ReadNumber(key), kBrightnessMin, kBrightnessMax));
    }
}

void CNumiconDlg::EnableSeparateSet() {
    EnableFormatControls(true);
}

void CNumiconDlg::EnableUnifiedSet() {
    EnableFormatControls(false);
}

void CNumiconDlg::EnableFormatControls(bool separate) {
    const ProgramChange change(*this);
    for (int line = 1; line <= kLineCount; ++line) {
        for (const LineIds* group :
             {&kDigitCountLists, &kPlacesLists, &kFlickerBoxes, &kPointBoxes}) {
            view_.Enable((*group)[Index(line)], separate);
        }
    }
    for (int id : {kUnifiedDigitCount, kUnifiedPlaces, kUnifiedFlicker, kUnifiedPoint}) {
        view_.Enable(id, !separate);
    }
}

void CNumiconDlg::WriteUnifiedSettings() {
    // A list without a choice (its stored value is no item) leaves the keys
    // as they are rather than blanking every line's format; lumidex-send
    // applies the same writes.
    for (const auto& [key, value] : UnifiedSettingsWrites(view_.ListText(kUnifiedDigitCount),
                                                          view_.ListText(kUnifiedPlaces))) {
        settings_.Write(key, value);
    }
}

void CNumiconDlg::FormatLineValue(int line) {
    const int editor = kLineEditors[Index(line)];
    const auto formatted =
        FormatLineText(view_.Text(editor), view_.ListText(kDigitCountLists[Index(line)]),
                       view_.ListText(kPlacesLists[Index(line)]));
    if (!formatted) {
        return;
    }
    {
        const ProgramChange change(*this);
        view_.SetText(editor, *formatted);
    }
    settings_.Write(keys::kLineText[Index(line)], *formatted);
}

std::optional<EditorText> CNumiconDlg::OnLineKey(int line, const EditorText& before,
                                                 char16_t key) const {
    const SettingsFile::Snapshot snapshot(settings_); // both keys from one reading
    const std::string places = settings_.Read(keys::kDecimalPlaces[Index(line)]);
    const std::string digits =
        settings_.Read(keys::kDigitCount[Index(line)], keys::kEditorDigitCountFallback);
    const KeyOutcome outcome = ApplyLineKeystroke(before, key, digits, places);
    if (outcome.verdict != KeyVerdict::Accepted) {
        return std::nullopt;
    }
    return outcome.result;
}

DialogLines CNumiconDlg::DialogState() const {
    DialogLines lines;
    for (int line = 1; line <= kLineCount; ++line) {
        lines.texts[Index(line)] = view_.Text(kLineEditors[Index(line)]);
        lines.flicker[Index(line)] = view_.Checked(kFlickerBoxes[Index(line)]);
        lines.point[Index(line)] = view_.Checked(kPointBoxes[Index(line)]);
    }
    lines.update_index = view_.ListIndex(kUpdateList);
    return lines;
}

// ---- Keyboard, settings panel, exit and help --------------------------------

void CNumiconDlg::OnOK() {
    const int id = view_.FocusedControl();
    for (const LineIds* ring : {&kLineEditors, &kCaptionEditors}) {
        if (const int line = LineOf(*ring, id)) {
            view_.FocusAndSelectAll((*ring)[Index(line % kLineCount + 1)]);
            return;
        }
    }
}

bool CNumiconDlg::OnCloseRequest() {
    return Box(0, std::string(kExitQuestion), std::string(kWindowTitle), BoxButtons::YesNo,
               BoxIcon::Exclamation) == BoxAnswer::Yes;
}

void CNumiconDlg::OnHelp(int) {
    // The help is opened by another program (a word processor, a browser),
    // so one that another user could have replaced is never handed to it;
    // Help.html beside it stands in where nothing opens the document.
    const std::filesystem::path& document = environment_.help_document;
    for (const auto& file : {document, HtmlHelpFor(document)}) {
        if (const auto why = WhyUntrusted(file)) {
            Box(kHelpButton, "Help is not opened: " + *why + ".", std::string(kWindowTitle),
                BoxButtons::Ok, BoxIcon::Exclamation);
            return;
        }
    }
    view_.OpenDocument(document);
}

void CNumiconDlg::OnSettings(int) {
    view_.RunPasswordDialog();
}

void CNumiconDlg::OnPasswordOk(const std::string& typed) {
    if (typed != kPassword) {
        Box(kPasswordDialogOwner, std::string(kWrongPassword), environment_.application_name);
        view_.ClearPasswordEdit();
        return;
    }
    // The slide starts while the password dialog is still up.
    view_.StartSlideTimer(kSlideIntervalMs);
    view_.Enable(kSettingsButton, false);
    for (int id : kCaptionEditors) {
        view_.Enable(id, true);
    }
    view_.EndPasswordDialog();
}

void CNumiconDlg::OnSlideTick() {
    if (window_width_ >= kOpenWidth) {
        view_.StopSlideTimer();
        return;
    }
    window_width_ += kSlideStep;
    view_.SetWindowWidth(window_width_);
}

void CNumiconDlg::OnSaveAndExit(int) {
    // A slide still under way stops here, or its next ticks would widen the
    // closed window again.
    view_.StopSlideTimer();
    view_.SetWindowWidth(kClosedWidth);
    window_width_ = kClosedWidth;
    view_.Enable(kSettingsButton, true);
    RefreshFromSettings();
    const ProgramChange change(*this);
    for (int id : kCaptionEditors) {
        view_.Enable(id, false);
    }
}

// ---- Control persistence --------------------------------------------------

void CNumiconDlg::OnLineChosen(int id) {
    const int line = LineOf(kChosenBoxes, id);
    const bool chosen = view_.Checked(id);
    settings_.Write(keys::kLineChosen[Index(line)], chosen ? keys::kChosen : keys::kNotChosen);
    const ProgramChange change(*this);
    view_.Enable(kLineEditors[Index(line)], chosen);
}

void CNumiconDlg::OnFlagClicked(int id) {
    const char* value = FlagValue(view_.Checked(id));
    if (const int line = LineOf(kFlickerBoxes, id)) {
        settings_.Write(keys::kFlicker[Index(line)], value);
    } else {
        settings_.Write(keys::kPoint[Index(LineOf(kPointBoxes, id))], value);
    }
}

void CNumiconDlg::WriteFlag(int box, const SettingKey& unified,
                            const std::array<SettingKey, kLineCount>& lines) {
    const char* value = FlagValue(view_.Checked(box));
    settings_.Write(unified, value);
    for (const SettingKey& key : lines) {
        settings_.Write(key, value);
    }
}

void CNumiconDlg::OnUnifiedFlag(int id) {
    if (id == kUnifiedFlicker) {
        WriteFlag(id, keys::kUnifiedFlicker, keys::kFlicker);
    } else {
        WriteFlag(id, keys::kUnifiedPoint, keys::kPoint);
    }
    RefreshFromSettings();
}

void CNumiconDlg::OnCaptionChanged(int id) {
    settings_.Write(keys::kCaption[Index(LineOf(kCaptionEditors, id))], view_.Text(id));
}

void CNumiconDlg::OnBusAddressChanged(int id) {
    settings_.Write(keys::kBusAddress, view_.Text(id));
}

void CNumiconDlg::OnAddressChanged(int id) {
    settings_.Write(keys::kControllerIp,
                    std::to_string(StoredAddressValue(view_.AddressValue(id))));
    RefreshFromSettings();
}

void CNumiconDlg::OnPortOrBaud(int id) {
    // A list without a choice (the stored port is a pseudo-terminal or has
    // gone away) keeps the stored value, as the unified lists do.
    const std::string text = view_.ListText(id);
    if (view_.ListIndex(id) < 0 || text.empty()) {
        return;
    }
    settings_.Write(id == kPortList ? keys::kSerialPort : keys::kBaudRate, text);
    RefreshFromSettings();
}

void CNumiconDlg::OnUpdateTimeLeft(int id) {
    settings_.Write(keys::kUpdateTime, view_.ListText(id));
}

void CNumiconDlg::OnBrightnessReleased(int id) {
    const SettingKey& key = id == kDaySlider ? keys::kDayBrightness : keys::kNightBrightness;
    const int position = view_.SliderPosition(id);
    if (position != LeadingNumber(settings_.Read(key, keys::kSliderCompareFallback))) {
        settings_.Write(key, std::to_string(position));
    }
}

// ---- Line formats -------------------------------------------------------------

void CNumiconDlg::OnLineEditorLeft(int id) {
    FormatLineValue(LineOf(kLineEditors, id));
}

void CNumiconDlg::OnSeparateSet(int) {
    EnableSeparateSet();
    settings_.Write(keys::kMode, keys::kSeparateMode);
    RefreshFromSettings();
}

void CNumiconDlg::OnUnifiedSet(int) {
    EnableUnifiedSet();
    settings_.Write(keys::kMode, keys::kUnifiedMode);
    WriteFlag(kUnifiedFlicker, keys::kUnifiedFlicker, keys::kFlicker);
    WriteFlag(kUnifiedPoint, keys::kUnifiedPoint, keys::kPoint);
    WriteUnifiedSettings();
    RefreshFromSettings();
    for (int line = 1; line <= kLineCount; ++line) {
        FormatLineValue(line);
    }
}

void CNumiconDlg::OnLineFormatLeft(int id) {
    const bool digits_list = LineOf(kDigitCountLists, id) != 0;
    const int line = digits_list ? LineOf(kDigitCountLists, id) : LineOf(kPlacesLists, id);
    if (PlacesAccepted(view_.ListText(kDigitCountLists[Index(line)]),
                       view_.ListText(kPlacesLists[Index(line)]))) {
        settings_.Write(digits_list ? keys::kDigitCount[Index(line)]
                                    : keys::kDecimalPlaces[Index(line)],
                        view_.ListText(id));
    } else {
        Box(0, std::string(kPlacesMessage), std::string(kWindowTitle));
        const ProgramChange change(*this);
        view_.SelectListText(
            id, std::string(digits_list ? kDigitCountAfterRefusal : kPlacesAfterRefusal));
    }
    FormatLineValue(line);
}

void CNumiconDlg::OnUnifiedFormatChanged(int id) {
    if (PlacesAccepted(view_.ListText(kUnifiedDigitCount), view_.ListText(kUnifiedPlaces))) {
        WriteUnifiedSettings();
        RefreshFromSettings();
    } else {
        Box(0, std::string(kPlacesMessage), std::string(kWindowTitle));
        const ProgramChange change(*this);
        view_.SelectListText(id, std::string(id == kUnifiedDigitCount ? kDigitCountAfterRefusal
                                                                      : kPlacesAfterRefusal));
    }
    for (int line = 1; line <= kLineCount; ++line) {
        FormatLineValue(line);
    }
}

// ---- Sending --------------------------------------------------------------------

std::string CNumiconDlg::ControllerAddressText() const {
    return FormatDottedAddress(view_.AddressValue(kAddressField));
}

Delivery CNumiconDlg::DeliverFromDialog(const BoardCommand& command,
                                        std::span<const LinkTarget> targets) {
    // Every UDP send goes through the "TCP/IP" button, which owns the box
    // that says the sockets library cannot be started.
    DeliveryOptions options;
    options.on_sockets_failure = [this] {
        Box(kUdpButton, std::string(kSocketsFailure), environment_.application_name);
    };
    view_.SetBusy(true);
    Delivery delivery = Deliver(command, settings_, targets, options);
    view_.SetBusy(false);
    return delivery;
}

void CNumiconDlg::SendContent(const LinkTarget& target) {
    // An oversized frame (only a hand-edited settings file can make one) is
    // not sent, and the operator is told it failed.
    const Delivery delivery = DeliverFromDialog(ContentCommand{DialogState()}, {&target, 1});
    Box(0, SendResultText(delivery.outcome, delivery.bus_address), std::string(kWindowTitle));
}

void CNumiconDlg::OnSendUdp(int) {
    controller_address_ = ControllerAddressText();
    SendContent(UdpTarget{controller_address_});
}

void CNumiconDlg::OnSendSerial(int) {
    current_baud_ = settings_.ReadNumber(keys::kBaudRate);
    SendContent(SerialTarget{settings_.Read(keys::kSerialPort), current_baud_});
}

void CNumiconDlg::SendCommand(const BoardCommand& command) {
    // Once over each link; the results are not looked at. Brightness and
    // the clock go over the serial line first, at the current baud rate;
    // the initialise command goes over the network first and takes the
    // stored baud rate for its serial half.
    const UdpTarget udp{ControllerAddressText()};
    if (std::holds_alternative<InitialiseCommand>(command)) {
        current_baud_ = settings_.ReadNumber(keys::kBaudRate);
        const LinkTarget targets[] = {udp,
                                      SerialTarget{settings_.Read(keys::kSerialPort), current_baud_}};
        DeliverFromDialog(command, targets);
        return;
    }
    const LinkTarget targets[] = {SerialTarget{settings_.Read(keys::kSerialPort), current_baud_},
                                  udp};
    DeliverFromDialog(command, targets);
}

void CNumiconDlg::OnBrightness(int) {
    SendCommand(BrightnessCommand{});
}

void CNumiconDlg::OnProofTime(int) {
    SendCommand(ClockCommand{view_.LocalTime()});
}

void CNumiconDlg::OnInitialize(int) {
    if (Box(0, std::string(kInitializeQuestion), std::string(kWindowTitle), BoxButtons::YesNo,
            BoxIcon::Warning) != BoxAnswer::Yes) {
        return;
    }
    SendCommand(InitialiseCommand{});
}

} // namespace lumidex::dialog
