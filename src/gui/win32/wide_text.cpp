#include "gui/win32/wide_text.h"

#include "link/system_error_win32.h"

namespace lumidex::win32 {

// The engine's own conversions, taking the views the dialog's texts come in.
std::wstring Widen(std::string_view text) {
    return WideFromUtf8(std::string(text));
}

std::string Narrow(std::wstring_view text) {
    return Utf8FromWide(std::wstring(text));
}

} // namespace lumidex::win32
