#include "settings/text_codec.h"

#include <cstdint>

namespace lumidex {
namespace {

constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence starting at text[pos], or 1 when the
// byte there does not start one (it then stands for itself).
std::size_t SequenceLength(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (pos + length > text.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (!IsContinuation(static_cast<unsigned char>(text[pos + i]))) {
            return 1;
        }
    }
    return length;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16Le(std::string& out, char16_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

} // namespace

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    auto unit_at = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = unit_at(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const char16_t low = unit_at(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacement : unit);
    }
    return out;
}

namespace {

// The code point at text[pos] (a lone byte stands for itself) and its length.
char32_t CodePointAt(std::string_view text, std::size_t pos, std::size_t length) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (length == 1) {
        return lead;
    }
    char32_t cp = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        cp = (cp << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    }
    return cp;
}

std::string Utf8ToUtf16Le(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2 + 2);
    out += kUtf16LeBom;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = SequenceLength(text, pos);
        char32_t cp = CodePointAt(text, pos, length);
        if (length == 1 && cp >= 0x80) {
            cp = kReplacement; // a stray byte has no UTF-16 form
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUtf16Le(out, static_cast<char16_t>(0xD800 + (cp >> 10)));
            AppendUtf16Le(out, static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            AppendUtf16Le(out, static_cast<char16_t>(cp));
        }
        pos += length;
    }
    return out;
}

} // namespace

DecodedText DecodeSettingsText(std::string_view bytes) {
    if (bytes.starts_with(kUtf16LeBom)) {
        return {Utf16LeToUtf8(bytes.substr(kUtf16LeBom.size())), TextEncoding::Utf16Le};
    }
    if (bytes.starts_with(kUtf8Bom)) {
        return {std::string(bytes.substr(kUtf8Bom.size())), TextEncoding::Utf8WithBom};
    }
    return DecodeEightBitText(bytes);
}

std::string EncodeSettingsText(std::string_view text, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf16Le:
        return Utf8ToUtf16Le(text);
    case TextEncoding::Utf8WithBom:
        return std::string(kUtf8Bom) + std::string(text);
    case TextEncoding::Local8Bit:
    case TextEncoding::LegacyCodePage:
        break;
    }
    return EncodeEightBitText(text, encoding);
}

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[pos]);
        if (lead < 0x80) {
            ++pos;
            continue;
        }
        const std::size_t length = SequenceLength(bytes, pos);
        if (length == 1) {
            return false; // a stray byte, a lead byte that is never valid, or a cut sequence
        }
        const char32_t cp = CodePointAt(bytes, pos, length);
        const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        pos += length;
    }
    return true;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    auto fold = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

std::u32string ToCodePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = SequenceLength(text, pos);
        out += CodePointAt(text, pos, length);
        pos += length;
    }
    return out;
}

std::size_t CountCharacters(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += SequenceLength(text, pos)) {
        ++count;
    }
    return count;
}

std::string_view FirstCharacters(std::string_view text, std::size_t max_chars) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < max_chars && pos < text.size(); ++n) {
        pos += SequenceLength(text, pos);
    }
    return text.substr(0, pos);
}

std::string_view LastCharacters(std::string_view text, std::size_t max_chars) {
    const std::size_t total = CountCharacters(text);
    if (total <= max_chars) {
        return text;
    }
    const std::size_t skip = FirstCharacters(text, total - max_chars).size();
    return text.substr(skip);
}

std::string CutWithEllipsis(std::string text, std::size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text + "...";
}

} // namespace lumidex
