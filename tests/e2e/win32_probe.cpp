// Reads the live windows of a Win32 program for the end-to-end suite, from
// inside the same Wine prefix: what a window says, where it is, which
// control has the keyboard, and a picture of it. More exact than reading
// screenshots.
//
//   win32_probe list                 one line per visible top-level window:
//                                    handle, class, title, rectangle,
//                                    enabled, minimised, then the texts of
//                                    its labels
//   win32_probe center HANDLE ID     the screen point at the middle of a
//                                    control
//   win32_probe item INDEX           the screen point at the middle of an
//                                    item of the list that is dropped down
//   win32_probe controls HANDLE      one line per child: id, class, enabled,
//                                    visible, rectangle in the client, text
//   win32_probe focus HANDLE         the control with the keyboard focus in
//                                    the window's thread: id, class, owner
//                                    window's title (or "none")
//   win32_probe client HANDLE        the client area's width and height
//   win32_probe shot HANDLE FILE     the picture of the window's client area
//                                    on screen, as a PNG
//   win32_probe minimize HANDLE      minimises the window
//   win32_probe plant TITLE          shows a dialog of class #32770 with
//                                    that title, as any program could, and
//                                    keeps it until killed
//   win32_probe lock FILE            takes a lock on the first byte of the
//                                    file (made when missing), prints
//                                    "locked" and keeps it until killed
//
// Handles are printed and read in hexadecimal.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

std::string TextOf(HWND window) {
    wchar_t text[1024] = {};
    // WM_GETTEXT reaches controls of other processes, GetWindowText does not.
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, nullptr);
    std::string utf8 = Utf8(text);
    for (char& c : utf8) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return utf8;
}

std::string ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return Utf8(name);
}

HWND ParseHandle(const char* text) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(text, nullptr, 16)));
}

BOOL CALLBACK CollectLabels(HWND child, LPARAM out) {
    if (ClassOf(child) == "Static" && IsWindowVisible(child)) {
        auto& texts = *reinterpret_cast<std::string*>(out);
        texts += "|" + TextOf(child);
    }
    return TRUE;
}

BOOL CALLBACK ListWindow(HWND window, LPARAM) {
    if (!IsWindowVisible(window)) {
        return TRUE;
    }
    RECT r;
    GetWindowRect(window, &r);
    std::string labels;
    EnumChildWindows(window, CollectLabels, reinterpret_cast<LPARAM>(&labels));
    std::printf("%llx\t%s\t%s\t%ld %ld %ld %ld\t%d\t%d\t%s\n",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)),
                ClassOf(window).c_str(), TextOf(window).c_str(), r.left, r.top, r.right, r.bottom,
                IsWindowEnabled(window) ? 1 : 0, IsIconic(window) ? 1 : 0, labels.c_str());
    return TRUE;
}

BOOL CALLBACK ListControl(HWND child, LPARAM parent) {
    if (GetParent(child) != reinterpret_cast<HWND>(parent)) {
        return TRUE;
    }
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, reinterpret_cast<HWND>(parent), reinterpret_cast<POINT*>(&r), 2);
    std::printf("%d\t%s\t%d\t%d\t%ld %ld %ld %ld\t%s\n", GetDlgCtrlID(child),
                ClassOf(child).c_str(), IsWindowEnabled(child) ? 1 : 0,
                IsWindowVisible(child) ? 1 : 0, r.left, r.top, r.right, r.bottom,
                TextOf(child).c_str());
    return TRUE;
}

int Center(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    if (control == nullptr) {
        return 1;
    }
    RECT r;
    GetWindowRect(control, &r);
    std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
}

// The drop-down of a list is a top-level window of its own while it shows.
int DroppedItem(int index) {
    HWND list = FindWindowW(L"ComboLBox", nullptr);
    if (list == nullptr || !IsWindowVisible(list)) {
        return 1;
    }
    const auto top = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
    const auto height = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    RECT client;
    GetClientRect(list, &client);
    const int y = (index - top) * height + height / 2;
    if (index < top || y >= client.bottom) {
        return 1; // not in view
    }
    POINT point{client.right / 2, y};
    ClientToScreen(list, &point);
    std::printf("%ld %ld\n", point.x, point.y);
    return 0;
}

int Focus(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ||
        info.hwndFocus == nullptr) {
        std::printf("0\tnone\tnone\n");
        return 0;
    }
    HWND control = info.hwndFocus;
    // A control's inner window (an address field's edit) stands for the control.
    while (GetParent(control) != nullptr && GetParent(GetParent(control)) != nullptr &&
           (GetWindowLongW(GetParent(control), GWL_STYLE) & WS_CHILD)) {
        control = GetParent(control);
    }
    HWND top = GetAncestor(control, GA_ROOT);
    const bool is_top = control == top;
    std::printf("%d\t%s\t%s\n", is_top ? 0 : GetDlgCtrlID(control), ClassOf(control).c_str(),
                TextOf(top).c_str());
    return 0;
}

void Append32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

std::uint32_t Crc32(const unsigned char* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void Chunk(std::vector<unsigned char>& png, const char* type,
           const std::vector<unsigned char>& data) {
    Append32(png, static_cast<std::uint32_t>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    Append32(png, Crc32(body.data(), body.size()));
}

// RGB rows as a PNG, with uncompressed deflate blocks: simple and exact.
std::vector<unsigned char> Png(int width, int height, const std::vector<unsigned char>& rgb) {
    std::vector<unsigned char> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(y) * width * 3;
        raw.insert(raw.end(), row, row + width * 3);
    }
    std::vector<unsigned char> z{0x78, 0x01};
    for (std::size_t at = 0; at < raw.size() || raw.empty();) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        const bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<unsigned char>(n));
        z.push_back(static_cast<unsigned char>(n >> 8));
        z.push_back(static_cast<unsigned char>(~n));
        z.push_back(static_cast<unsigned char>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
        if (last) {
            break;
        }
    }
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    Append32(z, (b << 16) | a);
    std::vector<unsigned char> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    Append32(header, static_cast<std::uint32_t>(width));
    Append32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    return png;
}

int Shot(HWND window, const char* file) {
    RECT r;
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::vector<unsigned char> rgb;
    const auto* pixels = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < width * height; ++i) {
        rgb.insert(rgb.end(), {pixels[4 * i + 2], pixels[4 * i + 1], pixels[4 * i]});
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const std::vector<unsigned char> png = Png(width, height, rgb);
    FILE* out = std::fopen(file, "wb");
    if (out == nullptr) {
        return 1;
    }
    std::fwrite(png.data(), 1, png.size(), out);
    return std::fclose(out) == 0 ? 0 : 1;
}

// A dialog of the dialog manager's class, titled as asked: an in-memory
// template of one empty dialog.
int Plant(const char* title) {
    struct {
        DLGTEMPLATE dialog;
        WORD menu, window_class, caption;
    } empty{};
    empty.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    empty.dialog.cx = 120;
    empty.dialog.cy = 40;
    HWND window = CreateDialogIndirectParamW(
        nullptr, &empty.dialog, nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    if (window == nullptr) {
        return 1;
    }
    std::wstring wide(title, title + std::strlen(title));
    SetWindowTextW(window, wide.c_str());
    std::printf("%llx\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    std::fflush(stdout);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

int Lock(const char* file) {
    HANDLE handle = CreateFileA(file, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED whole{};
    if (handle == INVALID_HANDLE_VALUE ||
        !LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &whole)) {
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "list") {
        EnumWindows(ListWindow, 0);
        return 0;
    }
    if (command == "item" && argc > 2) {
        return DroppedItem(std::atoi(argv[2]));
    }
    if (command == "plant" && argc > 2) {
        return Plant(argv[2]);
    }
    if (command == "lock" && argc > 2) {
        return Lock(argv[2]);
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: win32_probe list|controls|focus|client|shot|minimize ...\n");
        return 2;
    }
    HWND window = ParseHandle(argv[2]);
    if (!IsWindow(window)) {
        std::fprintf(stderr, "win32_probe: no window %s\n", argv[2]);
        return 1;
    }
    if (command == "controls") {
        EnumChildWindows(window, ListControl, reinterpret_cast<LPARAM>(window));
        return 0;
    }
    if (command == "center" && argc > 3) {
        return Center(window, std::atoi(argv[3]));
    }
    if (command == "focus") {
        return Focus(window);
    }
    if (command == "client") {
        RECT r;
        GetClientRect(window, &r);
        std::printf("%ld %ld\n", r.right, r.bottom);
        return 0;
    }
    if (command == "shot" && argc > 3) {
        return Shot(window, argv[3]);
    }
    if (command == "minimize") {
        return ShowWindow(window, SW_MINIMIZE) >= 0 ? 0 : 1;
    }
    return 2;
}
