#pragma once

#include <string>
#include <string_view>

// The dialog's texts are UTF-8; the Windows calls take UTF-16.
namespace lumidex::win32 {

// UTF-8 as UTF-16; bytes that are no valid UTF-8 become U+FFFD.
std::wstring Widen(std::string_view text);
// UTF-16 as UTF-8; unpaired surrogates become U+FFFD.
std::string Narrow(std::wstring_view text);

} // namespace lumidex::win32
