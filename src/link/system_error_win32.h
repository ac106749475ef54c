#pragma once

#include <string>

namespace lumidex {

// The operating system's message for a Windows error code (GetLastError or
// WSAGetLastError), in UTF-8 without a trailing line break; "error N" when
// the system has no text for it.
std::string SystemMessage(unsigned long code);

// UTF-8 text as a wide string for the Windows calls; invalid bytes become
// U+FFFD.
std::wstring WideFromUtf8(const std::string& text);

// A wide string from the Windows calls as UTF-8 text.
std::string Utf8FromWide(const std::wstring& text);

} // namespace lumidex
