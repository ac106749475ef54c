#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumidex {

// How a settings file stores its characters. Files written by the program
// itself use the local 8-bit code page (UTF-8 here); a file that starts with
// the UTF-16LE byte-order mark keeps that form when it is rewritten.
enum class TextEncoding { Local8Bit, Utf8WithBom, Utf16Le };

// Decoded contents of a settings file: UTF-8 text and the form it came in.
struct DecodedText {
    std::string text;
    TextEncoding encoding = TextEncoding::Local8Bit;
};

// Recognises the byte-order mark and turns the bytes into UTF-8 text.
// Never fails: unpaired UTF-16 surrogates become U+FFFD, and bytes of an
// 8-bit file are kept exactly as they are.
DecodedText DecodeSettingsText(std::string_view bytes);

// Turns UTF-8 text back into the file's own form, with its byte-order mark.
std::string EncodeSettingsText(std::string_view text, TextEncoding encoding);

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

} // namespace lumidex
