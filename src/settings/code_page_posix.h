#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// The code page of 8-bit settings files that are not valid UTF-8: the iconv
// name in the environment variable LUMIDEX_CODEPAGE (for example GBK or
// CP1252), or CP1252 (Windows-1252) when it is unset, empty or a name iconv
// does not know.
std::string LegacyCodePageName();

// Bytes in the named code page as UTF-8 text. A byte the code page does not
// define (or a sequence cut off at the end) is kept as the private-use
// character U+F700 + byte, which EncodeCodePage turns back into that byte.
// Returns nothing when iconv does not know the code page.
std::optional<std::string> DecodeCodePage(std::string_view bytes, const std::string& code_page);

// UTF-8 text in the named code page; a character the code page cannot hold
// is written as "?", and so is a byte that is no UTF-8. A kept byte (see
// DecodeCodePage) is written as itself. Returns nothing when
// iconv does not know the code page.
std::optional<std::string> EncodeCodePage(std::string_view text, const std::string& code_page);

} // namespace lumidex
