#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumidex {

// How a settings file stores its characters; a rewrite keeps the form.
// Local8Bit is the platform's own 8-bit code page: the ANSI code page on
// Windows, UTF-8 elsewhere. LegacyCodePage is an 8-bit file that is not
// valid UTF-8 on a system whose own code page is UTF-8: a file written on a
// Windows PC in its ANSI code page (see LegacyCodePageName). A file that
// starts with a byte-order mark is UTF-16LE or UTF-8 with that mark.
enum class TextEncoding { Local8Bit, Utf8WithBom, Utf16Le, LegacyCodePage };

// Decoded contents of a settings file: UTF-8 text and the form it came in.
struct DecodedText {
    std::string text;
    TextEncoding encoding = TextEncoding::Local8Bit;
};

// Recognises the byte-order mark and turns the bytes into UTF-8 text.
// Never fails: unpaired UTF-16 surrogates and bytes the code page does not
// define become U+FFFD.
DecodedText DecodeSettingsText(std::string_view bytes);

// Turns UTF-8 text back into the file's own form, with its byte-order mark.
// In an 8-bit code page a character the code page cannot hold is written as
// "?", as the Windows profile functions write it.
std::string EncodeSettingsText(std::string_view text, TextEncoding encoding);

// The platform's half of the two above, for a file without a byte-order
// mark (text_codec_posix.cpp, text_codec_win32.cpp).
DecodedText DecodeEightBitText(std::string_view bytes);
std::string EncodeEightBitText(std::string_view text, TextEncoding encoding);

// UTF-16LE bytes (without a byte-order mark) as UTF-8; unpaired surrogates
// become U+FFFD and an odd last byte is left out.
std::string Utf16LeToUtf8(std::string_view bytes);

// True when the bytes are well-formed UTF-8: no stray or missing
// continuation bytes, no overlong forms, no surrogates, nothing above
// U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// Number of characters (code points) in UTF-8 text; a byte that does not
// start a valid sequence counts as one character.
std::size_t CountCharacters(std::string_view text);

// True when two texts are equal with ASCII letters compared without regard
// to case, as section names, key names and list items are matched.
bool EqualIgnoringCase(std::string_view a, std::string_view b);

// The code points of UTF-8 text; a byte that does not start a valid
// sequence stands for itself.
std::u32string ToCodePoints(std::string_view text);

// The first max_chars characters of UTF-8 text, never splitting a character.
std::string_view FirstCharacters(std::string_view text, std::size_t max_chars);

// The last max_chars characters of UTF-8 text, never splitting a character.
std::string_view LastCharacters(std::string_view text, std::size_t max_chars);

// A text cut to at most `bytes` bytes, never inside a UTF-8 character, and
// "..." after it when it was cut.
std::string CutWithEllipsis(std::string text, std::size_t bytes);

} // namespace lumidex
