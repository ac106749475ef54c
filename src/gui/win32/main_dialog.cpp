#include "gui/win32/main_dialog.h"

#include "dialog/control_ids.h"
#include "dialog/dialog_template.h"
#include "gui/win32/dialog_template_win32.h"
#include "gui/win32/password_dialog.h"
#include "gui/win32/wide_text.h"
#include "platform/library_search_win32.h"
#include "protocol/local_time.h"
#include "settings/location.h"

#include <algorithm>

#include <commctrl.h>
#include <shellapi.h>

namespace lumidex::win32 {
namespace {

using dialog::ControlKind;
using dialog::Notification;

constexpr UINT_PTR kSlideTimer = 1;
constexpr UINT kShowNoticeMessage = WM_APP + 1;
constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr COLORREF kEditorText = RGB(240, 0, 0);
constexpr COLORREF kEditorBackground = RGB(255, 255, 255);

std::optional<ControlKind> KindOf(int id) {
    for (const dialog::ControlSpec& control : dialog::MainDialogControls()) {
        if (control.id == id && id != 0) {
            return control.kind;
        }
    }
    return std::nullopt;
}

int LineOfEditor(int id) {
    const auto& editors = dialog::kLineEditors;
    const auto it = std::find(editors.begin(), editors.end(), id);
    return it == editors.end() ? 0 : static_cast<int>(it - editors.begin()) + 1;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    const int length = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(length, 0)));
    return text;
}

bool FontInstalled(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    HDC screen = ::GetDC(nullptr);
    bool found = false;
    ::EnumFontFamiliesExW(
        screen, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found_flag) -> int {
            *reinterpret_cast<bool*>(found_flag) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, screen);
    return found;
}

// The face to ask for: the wanted one, or where it is missing and the stand-in
// is installed, the stand-in.
const wchar_t* FaceOrStandIn(const wchar_t* wanted, const wchar_t* stand_in) {
    return !FontInstalled(wanted) && FontInstalled(stand_in) ? stand_in : wanted;
}

HFONT MakeFont(int height, int width, const wchar_t* face) {
    return ::CreateFontW(height, width, 0, -20, 900, FALSE, FALSE, FALSE, ANSI_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         FIXED_PITCH | FF_MODERN, face);
}

} // namespace

std::optional<Notification> CommandNotification(ControlKind kind, UINT code) {
    switch (kind) {
    case ControlKind::Edit:
    case ControlKind::DigitEdit:
        if (code == EN_KILLFOCUS) {
            return Notification::FocusOut;
        }
        if (code == EN_CHANGE) {
            return Notification::TextChange;
        }
        return std::nullopt;
    case ControlKind::List:
    case ControlKind::SortedList:
        if (code == CBN_KILLFOCUS) {
            return Notification::FocusOut;
        }
        if (code == CBN_SELCHANGE) {
            return Notification::SelectionChange;
        }
        return std::nullopt;
    case ControlKind::Button:
    case ControlKind::CheckBox:
    case ControlKind::Radio:
        if (code == BN_CLICKED) {
            return Notification::Click;
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

void SetTabOrder(HWND dialog) {
    HWND previous = ::GetDlgItem(dialog, dialog::kLineEditors.back());
    for (int id : dialog::kCaptionEditors) {
        HWND caption = ::GetDlgItem(dialog, id);
        ::SetWindowPos(caption, previous, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        previous = caption;
    }
}

MainDialog::MainDialog(dialog::CNumiconDlg::Environment environment,
                       std::function<std::string()> notice)
    : environment_(std::move(environment)), notice_source_(std::move(notice)),
      application_name_(Widen(environment_.application_name)) {
    behaviour_ = std::make_unique<dialog::CNumiconDlg>(*this, environment_);
    HDC screen = ::GetDC(nullptr);
    dpi_ = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
}

MainDialog::~MainDialog() {
    if (window_ != nullptr) {
        ::DestroyWindow(window_);
    }
}

bool MainDialog::Run() {
    static const DialogTemplate dialog_template({dialog::kWindowTitle, dialog::kTemplateWidth,
                                                 dialog::kTemplateHeight, kMainDialogStyle,
                                                 kMainDialogExStyle, dialog::MainDialogControls()});
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (::CreateDialogIndirectParamW(instance, dialog_template.get(), nullptr, DialogProc,
                                     reinterpret_cast<LPARAM>(this)) == nullptr) {
        return false;
    }
    notice_ = notice_source_ ? notice_source_() : std::string();
    if (!notice_.empty()) {
        ::PostMessageW(window_, kShowNoticeMessage, 0, 0);
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (PreTranslateMessage(message)) {
            continue;
        }
        if (window_ == nullptr || !::IsDialogMessageW(window_, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        // The dialog manager's arrow keys walk a group of controls, and a
        // group may reach into the panel beyond the window's edge.
        if (window_ != nullptr &&
            (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN)) {
            KeepFocusInView();
        }
    }
    return true;
}

bool MainDialog::PreTranslateMessage(const MSG& message) {
    if (message.message != WM_KEYDOWN || window_ == nullptr ||
        (message.hwnd != window_ && !::IsChild(window_, message.hwnd))) {
        return false;
    }
    if (message.wParam == VK_ESCAPE) {
        return true;
    }
    if (message.wParam == VK_RETURN) {
        behaviour_->OnOK();
        return true;
    }
    return false;
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainDialog*>(lparam);
        ::SetWindowLongPtrW(window, DWLP_USER, lparam);
        self->window_ = window;
    }
    auto* self = reinterpret_cast<MainDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self == nullptr ? FALSE : self->OnMessage(message, wparam, lparam);
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return FALSE; // the focus is set
    case WM_COMMAND:
        OnCommand(LOWORD(wparam), HIWORD(wparam));
        return TRUE;
    case WM_NOTIFY:
        OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
        return TRUE;
    case WM_CTLCOLOREDIT:
        if (LineOfEditor(::GetDlgCtrlID(reinterpret_cast<HWND>(lparam))) != 0) {
            HDC dc = reinterpret_cast<HDC>(wparam);
            ::SetTextColor(dc, kEditorText);
            ::SetBkColor(dc, kEditorBackground);
            return reinterpret_cast<INT_PTR>(editor_brush_);
        }
        return FALSE;
    case WM_SETFOCUS:
        // The dialog keeps a focus put on it: handing it on to a control
        // would give the keys to a control the operator did not choose.
        return TRUE;
    case WM_TIMER:
        if (wparam == kSlideTimer) {
            behaviour_->OnSlideTick();
        }
        return FALSE;
    case kPasswordResultMessage:
        behaviour_->OnPasswordResult(reinterpret_cast<const wchar_t*>(lparam) == kPasswordAccepted);
        ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, 1);
        return TRUE;
    case kShowNoticeMessage:
        ShowMessage({0, notice_, std::string(dialog::kWindowTitle), dialog::BoxButtons::Ok,
                     dialog::BoxIcon::None});
        return TRUE;
    case WM_PAINT:
        if (::IsIconic(window_)) {
            PaintIcon();
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(large_icon_);
    case WM_CLOSE:
        if (behaviour_->OnCloseRequest()) {
            ::DestroyWindow(window_);
        }
        return TRUE;
    case WM_DESTROY:
        ::KillTimer(window_, kSlideTimer);
        ::PostQuitMessage(0);
        return FALSE;
    case WM_NCDESTROY:
        // Fonts, brush and icons go with the dialog.
        for (HGDIOBJ object :
             {static_cast<HGDIOBJ>(line_font_), static_cast<HGDIOBJ>(caption_font_),
              static_cast<HGDIOBJ>(editor_brush_)}) {
            if (object != nullptr) {
                ::DeleteObject(object);
            }
        }
        for (HICON icon : {large_icon_, small_icon_}) {
            if (icon != nullptr) {
                ::DestroyIcon(icon);
            }
        }
        line_font_ = caption_font_ = nullptr;
        editor_brush_ = nullptr;
        large_icon_ = small_icon_ = nullptr;
        window_ = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

void MainDialog::OnInitDialog() {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    large_icon_ = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(dialog::kIconResource),
                                                  IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                  ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    small_icon_ = static_cast<HICON>(::LoadImageW(
        instance, MAKEINTRESOURCEW(dialog::kIconResource), IMAGE_ICON,
        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_icon_));
    ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
    SetTabOrder(window_);
    editor_brush_ = ::CreateSolidBrush(kEditorBackground);
    CreateFonts();
    for (std::size_t i = 0; i < dialog::kLineEditors.size(); ++i) {
        HWND editor = Control(dialog::kLineEditors[i]);
        ::SendMessageW(editor, WM_SETFONT, reinterpret_cast<WPARAM>(line_font_), FALSE);
        ::SetWindowSubclass(editor, LineEditorProc, i + 1, reinterpret_cast<DWORD_PTR>(this));
        ::SendMessageW(Control(dialog::kCaptionEditors[i]), WM_SETFONT,
                       reinterpret_cast<WPARAM>(caption_font_), FALSE);
    }
    behaviour_->OnInitDialog();
}

void MainDialog::CreateFonts() {
    // Without "DigifaceWide" the seven-segment face of Debian's fonts-dseg
    // stands in when it is there, as on Linux, and Arial's metric twin for
    // Arial (a Wine prefix has neither); otherwise the font mapper picks by
    // the pitch-and-family hint, a fixed-pitch face.
    line_font_ = MakeFont(42, 20, FaceOrStandIn(L"DigifaceWide", L"DSEG7 Classic"));
    caption_font_ = MakeFont(24, 12, FaceOrStandIn(L"Arial", L"Liberation Sans"));
}

void MainDialog::PaintIcon() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window_, &paint);
    ::SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(window_, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, large_icon_);
    ::EndPaint(window_, &paint);
}

void MainDialog::OnCommand(int id, UINT code) {
    if (id == IDOK && code == BN_CLICKED) {
        // The dialog's default command: Enter from anywhere the filter did
        // not see it.
        behaviour_->OnOK();
        return;
    }
    const auto kind = KindOf(id);
    if (!kind || quiet_ > 0) {
        return;
    }
    if (const auto notification = CommandNotification(*kind, code);
        notification && dialog::CNumiconDlg::IsRouted(id, *notification)) {
        behaviour_->Notify(id, *notification);
    }
}

void MainDialog::OnNotify(const NMHDR& header) {
    if (quiet_ > 0) {
        return;
    }
    const int id = static_cast<int>(header.idFrom);
    const auto kind = KindOf(id);
    std::optional<Notification> notification;
    if (kind == ControlKind::Trackbar && header.code == NM_RELEASEDCAPTURE) {
        notification = Notification::Released;
    } else if (kind == ControlKind::Address && header.code == static_cast<UINT>(IPN_FIELDCHANGED)) {
        notification = Notification::FieldChanged;
    }
    if (notification && dialog::CNumiconDlg::IsRouted(id, *notification)) {
        behaviour_->Notify(id, *notification);
    }
}

LRESULT CALLBACK MainDialog::LineEditorProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam,
                                            UINT_PTR line, DWORD_PTR self) {
    if (message == WM_CHAR && reinterpret_cast<MainDialog*>(self)->OnLineEditorChar(
                                  edit, static_cast<int>(line), static_cast<wchar_t>(wparam))) {
        return 0;
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(edit, LineEditorProc, line);
    }
    return ::DefSubclassProc(edit, message, wparam, lparam);
}

bool MainDialog::OnLineEditorChar(HWND edit, int line, wchar_t key) {
    constexpr wchar_t kSelectAll = 1; // Ctrl+A
    if (key == kSelectAll) {
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        return true;
    }
    DWORD start = 0;
    DWORD end = 0;
    ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
    const std::wstring text = WindowText(edit);
    const EditorText before{std::u16string(text.begin(), text.end()), static_cast<int>(start),
                            static_cast<int>(end)};
    const auto after = behaviour_->OnLineKey(line, before, static_cast<char16_t>(key));
    if (after) {
        const QuietChange quiet(*this);
        ::SetWindowTextW(edit, std::wstring(after->text.begin(), after->text.end()).c_str());
        ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(after->sel_start),
                       static_cast<LPARAM>(after->sel_end));
        ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
    }
    return true;
}

int MainDialog::Scaled(int pixels) const {
    return ::MulDiv(pixels, dpi_, 96);
}

int MainDialog::ControlOf(HWND window) const {
    for (; window != nullptr && window != window_; window = ::GetParent(window)) {
        if (::GetParent(window) == window_) {
            return ::GetDlgCtrlID(window);
        }
    }
    return 0;
}

void MainDialog::MoveFocusAside() {
    ::SetFocus(window_);
}

void MainDialog::KeepFocusInView() {
    const int id = ControlOf(::GetFocus());
    if (id == 0) {
        return;
    }
    RECT control;
    ::GetWindowRect(Control(id), &control);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&control), 2);
    RECT client;
    ::GetClientRect(window_, &client);
    if (control.right > client.right) {
        MoveFocusAside();
    }
}

// ---- DialogView -------------------------------------------------------------

std::string MainDialog::Text(int id) const {
    return Narrow(WindowText(Control(id)));
}

void MainDialog::SetText(int id, const std::string& text) {
    const QuietChange quiet(*this);
    ::SetWindowTextW(Control(id), Widen(text).c_str());
}

void MainDialog::ShowFromStart(int id) {
    HWND control = Control(id);
    ::SendMessageW(control, EM_SETSEL, 0, 0);
    ::SendMessageW(control, EM_SCROLLCARET, 0, 0);
}

bool MainDialog::Checked(int id) const {
    return ::IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

void MainDialog::SetChecked(int id, bool checked) {
    const QuietChange quiet(*this);
    ::CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

int MainDialog::ListIndex(int id) const {
    return static_cast<int>(::SendMessageW(Control(id), CB_GETCURSEL, 0, 0));
}

std::string MainDialog::ListText(int id) const {
    const int index = ListIndex(id);
    if (index < 0) {
        return {};
    }
    HWND list = Control(id);
    const LRESULT length = ::SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return Narrow(text);
}

void MainDialog::SelectListText(int id, const std::string& text) {
    // The platform's exact search ignores letter case, as the dialog wants.
    HWND list = Control(id);
    const std::wstring wanted = Widen(text);
    const LRESULT index = ::SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(wanted.c_str()));
    if (index != CB_ERR) {
        const QuietChange quiet(*this);
        ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

void MainDialog::FillList(int id, const std::vector<std::string>& items) {
    const QuietChange quiet(*this);
    HWND list = Control(id);
    ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items) {
        ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
    }
}

int MainDialog::SliderPosition(int id) const {
    return static_cast<int>(::SendMessageW(Control(id), TBM_GETPOS, 0, 0));
}

void MainDialog::SetSliderPosition(int id, int position) {
    const QuietChange quiet(*this);
    ::SendMessageW(Control(id), TBM_SETPOS, TRUE, position);
}

void MainDialog::SetSliderRange(int id, int min, int max) {
    const QuietChange quiet(*this);
    ::SendMessageW(Control(id), TBM_SETRANGE, FALSE, MAKELPARAM(min, max));
    ::SendMessageW(Control(id), TBM_SETTICFREQ, 1, 0);
}

std::uint32_t MainDialog::AddressValue(int id) const {
    DWORD address = 0;
    ::SendMessageW(Control(id), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return address;
}

void MainDialog::SetAddressValue(int id, std::uint32_t address) {
    const QuietChange quiet(*this);
    ::SendMessageW(Control(id), IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

void MainDialog::Enable(int id, bool enabled) {
    HWND control = Control(id);
    if (!enabled && ControlOf(::GetFocus()) == id) {
        MoveFocusAside();
    }
    ::EnableWindow(control, enabled ? TRUE : FALSE);
}

int MainDialog::FocusedControl() const {
    return ControlOf(::GetFocus());
}

void MainDialog::SetFocus(int id) {
    ::SetFocus(Control(id));
}

void MainDialog::FocusAndSelectAll(int id) {
    HWND control = Control(id);
    ::SetFocus(control);
    ::SendMessageW(control, EM_SETSEL, 0, -1);
    ::SendMessageW(control, EM_SCROLLCARET, 0, 0);
}

void MainDialog::ShowPortLabel(const std::string& port, const std::string& baud) {
    SetText(dialog::kPortLabel, dialog::PortLabelText(port, baud));
}

void MainDialog::SetWindowWidth(int width) {
    width_ = width;
    ::SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, Scaled(width), Scaled(dialog::kWindowHeight),
                   SWP_NOMOVE | SWP_NOACTIVATE);
    KeepFocusInView();
}

void MainDialog::StartSlideTimer(int interval_ms) {
    ::SetTimer(window_, kSlideTimer, static_cast<UINT>(interval_ms), nullptr);
}

void MainDialog::StopSlideTimer() {
    ::KillTimer(window_, kSlideTimer);
    // A window manager may answer a late step of the slide with a size of
    // its own; the slide ends at the width it last set.
    RECT frame;
    ::GetWindowRect(window_, &frame);
    if (width_ > 0 && frame.right - frame.left != Scaled(width_)) {
        SetWindowWidth(width_);
    }
}

HWND MainDialog::BoxOwner(int owner) const {
    if (owner == 0) {
        return nullptr;
    }
    if (owner == dialog::kPasswordDialogOwner) {
        return password_;
    }
    return Control(owner);
}

dialog::BoxAnswer MainDialog::ShowMessage(const dialog::BoxRequest& box) {
    UINT type = box.buttons == dialog::BoxButtons::YesNo ? MB_YESNO : MB_OK;
    if (box.icon == dialog::BoxIcon::Exclamation) {
        type |= MB_ICONEXCLAMATION;
    } else if (box.icon == dialog::BoxIcon::Warning) {
        type |= MB_ICONWARNING;
    }
    switch (::MessageBoxExW(BoxOwner(box.owner), Widen(box.text).c_str(),
                            Widen(box.caption).c_str(), type, kEnglishUs)) {
    case IDOK:
        return dialog::BoxAnswer::Ok;
    case IDYES:
        return dialog::BoxAnswer::Yes;
    case IDNO:
        return dialog::BoxAnswer::No;
    default:
        return dialog::BoxAnswer::Closed;
    }
}

void MainDialog::RunPasswordDialog() {
    // The "Settings" button the operator clicked is about to be disabled:
    // the dialog, not that button, gets the focus back afterwards.
    MoveFocusAside();
    win32::RunPasswordDialog(window_, application_name_, &password_);
}

void MainDialog::OpenDocument(const std::filesystem::path& path) {
    // The shell is loaded only now, from the system folder, with all it
    // brings along (see SystemFunction).
    auto* shell_execute = SystemFunction<decltype(::ShellExecuteW)>(L"shell32.dll", "ShellExecuteW");
    if (shell_execute == nullptr) {
        return;
    }
    const auto opened = reinterpret_cast<INT_PTR>(
        shell_execute(nullptr, L"open", path.wstring().c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    // No program is registered for .doc files: the browser shows the HTML
    // copy of the help instead.
    if (opened == SE_ERR_NOASSOC) {
        shell_execute(nullptr, L"open", HtmlHelpFor(path).wstring().c_str(), nullptr, nullptr,
                      SW_SHOWNORMAL);
    }
}

ClockTime MainDialog::LocalTime() const {
    return LocalTimeNow();
}

void MainDialog::SetBusy(bool busy) {
    if (busy) {
        cursor_before_busy_ = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    } else {
        ::SetCursor(cursor_before_busy_ != nullptr ? cursor_before_busy_
                                                   : ::LoadCursorW(nullptr, IDC_ARROW));
    }
}

} // namespace lumidex::win32
