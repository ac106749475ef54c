// On Windows an 8-bit settings file is in the ANSI code page (CP_ACP), as
// the platform's profile functions read and write it.
#include "settings/text_codec.h"

#include <windows.h>

namespace lumidex {
namespace {

std::wstring WideFrom(UINT code_page, std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(code_page, 0, bytes.data(), size, wide.data(), length);
    return wide;
}

std::string NarrowFrom(UINT code_page, const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    // Without best-fit mapping a character the code page cannot hold turns
    // into the code page's default character, "?", instead of a look-alike.
    const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(code_page, flags, wide.data(), size, bytes.data(), length, nullptr,
                          nullptr);
    return bytes;
}

} // namespace

DecodedText DecodeEightBitText(std::string_view bytes) {
    return {NarrowFrom(CP_UTF8, WideFrom(CP_ACP, bytes)), TextEncoding::Local8Bit};
}

std::string EncodeEightBitText(std::string_view text, TextEncoding) {
    return NarrowFrom(CP_ACP, WideFrom(CP_UTF8, text));
}

} // namespace lumidex
