#include "settings/text_codec.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

TEST(TextCodec, CharactersAreCodePointsAndStrayBytesCountAlone) {
    struct Case {
        std::string text;
        std::size_t count;
        std::size_t first2;
        std::size_t last2;
    };
    const Case cases[] = {
        {"", 0, 0, 0},
        {"abc", 3, 2, 2},
        {"a位c", 3, 4, 4},
        {"\xFF"
         "ab",
         3, 2, 2},             // a byte that starts no character
        {"\xE4\xBD", 2, 2, 2}, // a cut three-byte sequence counts per byte
        {"😀x", 2, 5, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CountCharacters(c.text), c.count) << c.text;
        EXPECT_EQ(FirstCharacters(c.text, 2).size(), c.first2) << c.text;
        EXPECT_EQ(LastCharacters(c.text, 2).size(), c.last2) << c.text;
    }
}

TEST(TextCodec, Utf16RoundTripKeepsEveryCharacter) {
    const std::string text = "[TextBT]\r\nTB1=Zürich 位 😀\r\n";
    const std::string bytes = EncodeSettingsText(text, TextEncoding::Utf16Le);
    ASSERT_TRUE(bytes.starts_with("\xFF\xFE"));
    const DecodedText decoded = DecodeSettingsText(bytes);
    EXPECT_EQ(decoded.encoding, TextEncoding::Utf16Le);
    EXPECT_EQ(decoded.text, text);
}

TEST(TextCodec, LoneSurrogateBecomesReplacementCharacter) {
    const std::string bytes("\xFF\xFE\x00\xD8\x41\x00", 6);
    EXPECT_EQ(DecodeSettingsText(bytes).text, "\xEF\xBF\xBD"
                                              "A");
}

TEST(TextCodec, Utf8ByteOrderMarkIsKept) {
    const DecodedText decoded = DecodeSettingsText("\xEF\xBB\xBF[Set]");
    EXPECT_EQ(decoded.text, "[Set]");
    EXPECT_EQ(EncodeSettingsText(decoded.text, decoded.encoding), "\xEF\xBB\xBF[Set]");
}

// An 8-bit file counts as UTF-8 only when every byte is part of a
// well-formed sequence; anything else was written in a legacy code page.
TEST(TextCodec, ValidUtf8IsRecognisedExactly) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"ASCII", "[Set]\r\nSet=1\r\n", true},
        {"two, three and four bytes", "Z\xC3\xBCrich \xE4\xBD\x8D \xF0\x9F\x98\x80", true},
        {"Windows-1252 u umlaut", "Z\xFCrich", false},
        {"GBK zhongwen", "\xD6\xD0\xCE\xC4", false},
        {"GBK wei alone happens to be UTF-8 lambda", "\xCE\xBB", true},
        {"stray continuation byte", "a\x80", false},
        {"cut sequence at the end", "a\xE4\xBD", false},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three-byte form", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"largest code point", "\xF4\x8F\xBF\xBF", true},
        {"lead byte F5", "\xF5\x80\x80\x80", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.name;
    }
}

} // namespace
} // namespace lumidex
