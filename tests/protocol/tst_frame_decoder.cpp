#include "protocol/content_frame.h"
#include "protocol/frame_decoder.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

Frame FromHex(const std::string& hex) {
    Frame out;
    for (std::size_t i = 0; i + 1 < hex.size() + 1; i += 3) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// Re-seals a frame whose bytes a case changed, so only that change is wrong.
Frame Reseal(Frame frame) {
    const std::size_t length = frame[1];
    const std::uint16_t crc = Crc16Xmodem(std::span(frame).first(length));
    frame[length] = static_cast<std::uint8_t>(crc >> 8);
    frame[length + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    return frame;
}

TEST(DecodeFrame, ValidFramesGiveTheirFields) {
    const auto content =
        DecodeFrame(FromHex("FE 14 01 AC 18 02 FA 00 14 10 01 13 05 FB 01 13 10 10 18 FF 9E 1E"));
    ASSERT_TRUE(content.frame) << content.reason;
    EXPECT_EQ(content.frame->address, 1);
    EXPECT_FALSE(content.frame->at_once);
    EXPECT_EQ(content.frame->hour_code, 24);
    ASSERT_EQ(content.frame->lines.size(), 2u);
    EXPECT_EQ(content.frame->lines[0].line, 1);
    EXPECT_EQ(content.frame->lines[0].digit_count, 4);
    EXPECT_EQ(content.frame->lines[0].text, " 12.5");
    EXPECT_FALSE(content.frame->lines[0].flicker);
    EXPECT_EQ(content.frame->lines[1].line, 2);
    EXPECT_EQ(content.frame->lines[1].text, "  7.");
    EXPECT_TRUE(content.frame->lines[1].flicker);

    const auto brightness = DecodeFrame(FromHex("FE 07 00 02 07 00 FF A3 59"));
    ASSERT_TRUE(brightness.frame);
    EXPECT_EQ(brightness.frame->day_level, 7);
    EXPECT_EQ(brightness.frame->night_level, 0);

    const auto clock = DecodeFrame(FromHex("FE 0D 03 03 14 1F 0C 1F 17 3B 3B 03 FF 05 A5"));
    ASSERT_TRUE(clock.frame);
    EXPECT_EQ(clock.frame->clock.year, 2031);
    EXPECT_EQ(clock.frame->clock.month, 12);
    EXPECT_EQ(clock.frame->clock.day, 31);
    EXPECT_EQ(clock.frame->clock.second, 59);
    EXPECT_EQ(clock.frame->clock.weekday, 3);

    const auto init = DecodeFrame(FromHex("FE 05 00 CC FF 01 72"));
    ASSERT_TRUE(init.frame);
    EXPECT_EQ(CommandName(init.frame->command), "init");
}

TEST(DecodeFrame, SaysWhyAFrameIsInvalid) {
    const Frame good = FromHex("FE 14 01 AB 01 02 FA 00 14 10 01 13 05 FB 01 13 10 10 07 FF 65 56");
    auto with = [&](std::size_t at, std::uint8_t value, bool reseal) {
        Frame f = good;
        f[at] = value;
        return reseal ? Reseal(f) : f;
    };
    struct Case {
        const char* name;
        Frame bytes;
        FrameError error;
    };
    const Case cases[] = {
        {"empty", {}, FrameError::TooShort},
        {"six bytes", FromHex("FE 05 00 CC FF 01"), FrameError::TooShort},
        {"start byte", with(0, 0xFD, false), FrameError::BadStartByte},
        {"truncated", Frame(good.begin(), good.end() - 1), FrameError::LengthMismatch},
        {"trailing byte",
         [&] {
             Frame f = good;
             f.push_back(0);
             return f;
         }(),
         FrameError::LengthMismatch},
        {"length byte below envelope", with(1, 0x02, false), FrameError::LengthMismatch},
        {"end marker", Reseal(FromHex("FE 05 00 CC FE 00 00")), FrameError::MissingEndMarker},
        {"checksum low byte", with(21, 0x57, false), FrameError::ChecksumMismatch},
        {"checksum swapped", with(20, 0x56, false), FrameError::ChecksumMismatch},
        {"payload bit flip", with(12, 0x06, false), FrameError::ChecksumMismatch},
        {"unknown command", with(3, 0x55, true), FrameError::UnknownCommand},
        {"line count", with(5, 0x03, true), FrameError::BadPayload},
        {"now with an hour", with(4, 0x05, true), FrameError::BadPayload},
        {"flicker byte", with(7, 0x02, true), FrameError::BadPayload},
        {"digit count byte", with(8, 0x19, true), FrameError::BadPayload},
        {"character byte", with(10, 0x0A, true), FrameError::BadPayload},
        {"lines out of order", with(13, 0xFA, true), FrameError::BadPayload},
        {"brightness level", Reseal(FromHex("FE 07 00 02 08 00 FF 00 00")), FrameError::BadPayload},
        {"clock month", Reseal(FromHex("FE 0D 03 03 14 1F 0D 1F 17 3B 3B 03 FF 00 00")),
         FrameError::BadPayload},
        {"init payload", Reseal(FromHex("FE 06 00 CC 00 FF 00 00")), FrameError::BadPayload},
    };
    for (const Case& c : cases) {
        const DecodeResult result = DecodeFrame(c.bytes);
        EXPECT_FALSE(result.frame) << c.name;
        EXPECT_EQ(result.error, c.error) << c.name << ": " << result.reason;
        EXPECT_FALSE(result.reason.empty()) << c.name;
    }
}

// Every frame the builder makes decodes back to what went in.
TEST(DecodeFrame, RoundTripsBuiltContent) {
    ContentRecord record;
    record.address = 42;
    record.update_index = 7;
    const char* texts[] = {"1.2", "", "99999999", "0.000", "12.", "-5"};
    const int digits[] = {3, 4, 8, 4, 5, 3};
    for (std::size_t i = 0; i < 6; ++i) {
        record.lines[i] = {true, digits[i], texts[i], i % 2 == 0, i == 1};
    }
    const auto built = EncodeContentFrame(record);
    ASSERT_TRUE(built.frame);
    const auto decoded = DecodeFrame(*built.frame);
    ASSERT_TRUE(decoded.frame) << decoded.reason;
    EXPECT_EQ(decoded.frame->hour_code, 7);
    // A minus sign shows as 0; "9/10" on an empty line lights its last place.
    const char* shown[] = {" 1.2", "    .", "99999999", "0.000", "   12.", " 05"};
    ASSERT_EQ(decoded.frame->lines.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(decoded.frame->lines[i].line, static_cast<int>(i) + 1);
        EXPECT_EQ(decoded.frame->lines[i].flicker, i % 2 == 0);
        EXPECT_EQ(decoded.frame->lines[i].digit_count, digits[i]);
        EXPECT_EQ(decoded.frame->lines[i].text, shown[i]) << i;
    }
}

} // namespace
} // namespace lumidex
