// The local 8-bit code page here is UTF-8. A settings file that is not valid
// UTF-8 was written on a Windows PC in its ANSI code page, so it is read and
// rewritten in that legacy code page instead.
#include "settings/code_page_posix.h"
#include "settings/text_codec.h"

#include <cerrno>
#include <cstdlib>
#include <iconv.h>

namespace lumidex {
namespace {

constexpr const char* kDefaultCodePage = "CP1252";
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";
// A byte the code page does not define stands for itself as a character of
// the private use area, U+F780..U+F7FF, so that a rewrite puts it back.
constexpr char32_t kKeptByteBase = 0xF700;

// An iconv conversion, closed when it goes out of scope.
class Converter {
public:
    Converter(const std::string& to, const std::string& from)
        : cd_(::iconv_open(to.c_str(), from.c_str())) {}
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (ok()) {
            ::iconv_close(cd_);
        }
    }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of `in` as it can, appending to `out`. Returns false
    // at a sequence it cannot convert (errno says why); `in` then starts there.
    bool Convert(std::string_view& in, std::string& out) {
        char* source = const_cast<char*>(in.data());
        std::size_t source_left = in.size();
        bool done = false;
        while (!done) {
            char buffer[1024];
            char* target = buffer;
            std::size_t target_left = sizeof buffer;
            const std::size_t result = ::iconv(cd_, &source, &source_left, &target, &target_left);
            out.append(buffer, static_cast<std::size_t>(target - buffer));
            if (result != static_cast<std::size_t>(-1)) {
                done = true;
            } else if (errno != E2BIG) {
                in = std::string_view(source, source_left);
                return false;
            }
        }
        in = std::string_view(source, source_left);
        return true;
    }

private:
    iconv_t cd_;
};

bool KnownCodePage(const std::string& name) {
    return Converter("UTF-8", name).ok() && Converter(name, "UTF-8").ok();
}

// Bytes taken by the UTF-8 character at the start of `text` (1 for a byte
// that starts none).
std::size_t FirstCharacterBytes(std::string_view text) {
    return FirstCharacters(text, 1).size();
}

void AppendKeptByte(std::string& text, unsigned char byte) {
    const char32_t cp = kKeptByteBase + byte;
    text += static_cast<char>(0xE0 | (cp >> 12));
    text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (cp & 0x3F));
}

// The byte a kept-byte character at the start of `text` stands for.
std::optional<char> KeptByteAt(std::string_view text) {
    if (text.size() < 3 || static_cast<unsigned char>(text[0]) != 0xEF) {
        return std::nullopt;
    }
    const auto second = static_cast<unsigned char>(text[1]);
    const auto third = static_cast<unsigned char>(text[2]);
    if ((second != 0x9E && second != 0x9F) || (third & 0xC0) != 0x80) {
        return std::nullopt;
    }
    const char32_t cp = 0xF000 | ((second & 0x3F) << 6) | (third & 0x3F);
    return static_cast<char>(cp - kKeptByteBase);
}

// UTF-8 text with every byte that is no part of a valid sequence written
// as "?", so a UTF-8 file stays valid UTF-8.
std::string ValidUtf8(std::string_view text) {
    if (IsValidUtf8(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = FirstCharacterBytes(text);
        const std::string_view character = text.substr(0, length);
        out += IsValidUtf8(character) ? std::string(character) : std::string("?");
        text.remove_prefix(length);
    }
    return out;
}

} // namespace

std::string LegacyCodePageName() {
    const char* named = std::getenv("LUMIDEX_CODEPAGE");
    if (named != nullptr && *named != '\0' && KnownCodePage(named)) {
        return named;
    }
    return kDefaultCodePage;
}

std::optional<std::string> DecodeCodePage(std::string_view bytes, const std::string& code_page) {
    Converter converter("UTF-8", code_page);
    if (!converter.ok()) {
        return std::nullopt;
    }
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 2);
    while (!converter.Convert(bytes, text)) {
        // An undefined byte, or a sequence cut off at the end: each byte is
        // kept as a character of its own, then decoding goes on after it.
        const auto byte = static_cast<unsigned char>(bytes.front());
        if (byte >= 0x80) {
            AppendKeptByte(text, byte);
        } else {
            text += kReplacementUtf8;
        }
        bytes.remove_prefix(1);
    }
    return text;
}

std::optional<std::string> EncodeCodePage(std::string_view text, const std::string& code_page) {
    Converter converter(code_page, "UTF-8");
    if (!converter.ok()) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text.size());
    while (!text.empty()) {
        // The run up to the next kept byte goes through iconv; a kept byte
        // goes back as it was.
        std::size_t run = 0;
        while (run < text.size() && !KeptByteAt(text.substr(run))) {
            run += FirstCharacterBytes(text.substr(run));
        }
        std::string_view part = text.substr(0, run);
        while (!converter.Convert(part, bytes)) {
            bytes += '?';
            part.remove_prefix(FirstCharacterBytes(part));
        }
        text.remove_prefix(run);
        if (const auto kept = KeptByteAt(text)) {
            bytes += *kept;
            text.remove_prefix(3);
        }
    }
    return bytes;
}

DecodedText DecodeEightBitText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) {
        return {std::string(bytes), TextEncoding::Local8Bit};
    }
    const std::string code_page = LegacyCodePageName();
    if (auto text = DecodeCodePage(bytes, code_page)) {
        return {std::move(*text), TextEncoding::LegacyCodePage};
    }
    return {std::string(bytes), TextEncoding::Local8Bit}; // no iconv at all: keep the bytes
}

std::string EncodeEightBitText(std::string_view text, TextEncoding encoding) {
    if (encoding == TextEncoding::LegacyCodePage) {
        if (auto bytes = EncodeCodePage(text, LegacyCodePageName())) {
            return std::move(*bytes);
        }
    }
    return ValidUtf8(text);
}

} // namespace lumidex
