#include "protocol/content_frame.h"
#include "protocol/frame_decoder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

ContentRecord NoLines(std::uint8_t address, int update_index) {
    ContentRecord record;
    record.address = address;
    record.update_index = update_index;
    for (ContentLine& line : record.lines) {
        line.included = false;
    }
    return record;
}

ContentLine Line(std::int32_t digits, std::string text, bool flicker = false, bool point = false) {
    return {true, digits, std::move(text), flicker, point};
}

std::string Hex(const ContentRecord& record) {
    const ContentFrameResult result = EncodeContentFrame(record);
    return result.frame ? FormatHex(*result.frame) : "refused: " + result.refusal;
}

struct ContentCase {
    const char* name;
    ContentRecord record;
    const char* hex;
};

ContentRecord TwoLines(int update_index, bool point2) {
    ContentRecord r = NoLines(1, update_index);
    r.lines[0] = Line(4, "12.5");
    r.lines[1] = Line(3, "7", true, point2);
    return r;
}

ContentRecord OneLine(int index, ContentLine line, std::uint8_t address = 1) {
    ContentRecord r = NoLines(address, 0);
    r.lines[static_cast<std::size_t>(index)] = std::move(line);
    return r;
}

TEST(ContentFrame, ExactBytes) {
    ContentRecord empty_line8 = NoLines(0, 3);
    empty_line8.lines[0] = Line(8, "");
    const ContentCase cases[] = {
        {"two lines now", TwoLines(0, false),
         "FE 14 01 AB 01 02 FA 00 14 10 01 13 05 FB 01 13 10 10 07 FF 65 56"},
        {"two lines at 00:00 with 9/10", TwoLines(24, true),
         "FE 14 01 AC 18 02 FA 00 14 10 01 13 05 FB 01 13 10 10 18 FF 9E 1E"},
        {"no selection counts as now", TwoLines(-1, false),
         "FE 14 01 AB 01 02 FA 00 14 10 01 13 05 FB 01 13 10 10 07 FF 65 56"},
        {"no line", NoLines(1, 0), "FE 07 01 AB 01 00 FF A2 A9"},
        {"empty text is blanks", empty_line8,
         "FE 12 00 AC 03 01 FA 00 18 10 10 10 10 10 10 10 10 FF 87 F9"},
    };
    for (const ContentCase& c : cases) {
        EXPECT_EQ(Hex(c.record), c.hex) << c.name;
    }
}

// Each block, taken on its own: marker, flicker, 0x10 + N, character bytes.
TEST(ContentFrame, LineBlocks) {
    struct BlockCase {
        const char* name;
        int index;
        ContentLine line;
        Frame block;
    };
    const BlockCase cases[] = {
        {"padded to N+1 with a point", 0, Line(3, "1.2"), {0xFA, 0, 0x13, 0x10, 0x12, 0x02}},
        {"9/10 on the last digit",
         0,
         Line(3, "1.2", false, true),
         {0xFA, 0, 0x13, 0x10, 0x12, 0x13}},
        {"9/10 not twice", 0, Line(3, "12.", false, true), {0xFA, 0, 0x13, 0x10, 0x01, 0x13}},
        {"line 5 marker", 4, Line(3, "123"), {0xFE, 0, 0x13, 0x01, 0x02, 0x03}},
        {"line 6 marker", 5, Line(3, "123", true), {0xFF, 1, 0x13, 0x01, 0x02, 0x03}},
        {"minus sign is 00", 0, Line(4, "-3.14"), {0xFA, 0, 0x14, 0x00, 0x14, 0x01, 0x04}},
        {"longer text stays whole", 0, Line(3, "12345"), {0xFA, 0, 0x13, 1, 2, 3, 4, 5}},
        {"digit count outside 3..8 sends no characters", 0, Line(9, "12"), {0xFA, 0, 0x19}},
        {"no digit count", 0, Line(0, "12", false, true), {0xFA, 0, 0x10}},
        {"leading point stands on a blank", 0, Line(3, ".5"), {0xFA, 0, 0x13, 0x10, 0x21, 0x05}},
        {"second point stands on a blank", 0, Line(3, "1..2"), {0xFA, 0, 0x13, 0x12, 0x21, 0x02}},
        {"blank before a point", 0, Line(4, " .5"), {0xFA, 0, 0x14, 0x10, 0x10, 0x21, 0x05}},
    };
    for (const BlockCase& c : cases) {
        const auto result = EncodeContentFrame(OneLine(c.index, c.line));
        ASSERT_TRUE(result.frame) << c.name;
        const Frame& f = *result.frame;
        ASSERT_EQ(f.size(), 6 + c.block.size() + 3) << c.name;
        EXPECT_EQ(f[1], f.size() - 2) << c.name;
        EXPECT_EQ(f[5], 1) << c.name;
        EXPECT_EQ(FormatHex(Frame(f.begin() + 6, f.end() - 3)), FormatHex(c.block)) << c.name;
        EXPECT_EQ(f[f.size() - 3], 0xFF) << c.name;
    }
}

TEST(ContentFrame, OversizedFrameIsRefusedNotCut) {
    ContentRecord record = NoLines(1, 0);
    for (ContentLine& line : record.lines) {
        line = Line(8, std::string(40, '9'));
    }
    const auto refused = EncodeContentFrame(record);
    EXPECT_FALSE(refused.frame);
    EXPECT_NE(refused.refusal.find("267 bytes"), std::string::npos) << refused.refusal;

    // The largest frame that fits: 255 bytes, its length byte 253.
    for (ContentLine& line : record.lines) {
        line.text = std::string(38, '9');
    }
    const auto fits = EncodeContentFrame(record);
    ASSERT_TRUE(fits.frame) << fits.refusal;
    EXPECT_EQ(fits.frame->size(), 255u);
    EXPECT_EQ((*fits.frame)[1], 253);
}

TEST(ContentFrame, BuiltFromSettingsAndDialog) {
    test::TempDir dir;
    const SettingsFile settings(dir / "Config.ini");
    settings.Write(keys::kDigitCount[0], "4");
    settings.Write(keys::kDigitCount[1], "3");
    for (int i = 2; i < kLineCount; ++i) {
        settings.Write(keys::kLineChosen[i], i == 2 ? "yes" : (i == 3 ? "" : "No"));
    }
    DialogLines dialog;
    dialog.texts[0] = "12.5";
    dialog.texts[1] = "7";
    dialog.flicker[1] = true;
    const auto result = BuildContentFrame(dialog, settings);
    ASSERT_TRUE(result.frame);
    EXPECT_EQ(FormatHex(*result.frame),
              "FE 14 01 AB 01 02 FA 00 14 10 01 13 05 FB 01 13 10 10 07 FF 65 56");

    // A single "Y" includes a line; the bus address keeps two characters.
    settings.Write(keys::kLineChosen[5], "Y");
    settings.Write(keys::kBusAddress, "123");
    const auto with6 = BuildContentFrame(dialog, settings);
    ASSERT_TRUE(with6.frame);
    const auto decoded = DecodeFrame(*with6.frame);
    ASSERT_TRUE(decoded.frame) << decoded.reason;
    EXPECT_EQ(decoded.frame->address, 12);
    ASSERT_EQ(decoded.frame->lines.size(), 3u);
    EXPECT_EQ(decoded.frame->lines[2].line, 6);
    EXPECT_EQ(decoded.frame->lines[2].text, "   ");
}

TEST(ContentFrame, UpdateTexts) {
    EXPECT_EQ(UpdateIndexFromText("Now"), 0);
    EXPECT_EQ(UpdateIndexFromText("now"), 0);
    EXPECT_EQ(UpdateIndexFromText("01:00"), 1);
    EXPECT_EQ(UpdateIndexFromText("23:00"), 23);
    EXPECT_EQ(UpdateIndexFromText("00:00"), 24);
    EXPECT_EQ(UpdateIndexFromText("24:00"), std::nullopt);
    EXPECT_EQ(UpdateIndexFromText("1:00"), std::nullopt);
    EXPECT_EQ(UpdateIndexFromText("01:30"), std::nullopt);
    EXPECT_EQ(UpdateIndexFromText(""), std::nullopt);
}

} // namespace
} // namespace lumidex
