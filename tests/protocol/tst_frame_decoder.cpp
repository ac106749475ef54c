#include "lines/line_format.h"
#include "protocol/content_frame.h"
#include "protocol/frame_decoder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <random>

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
        {"eight places, no characters", Reseal(FromHex("FE 0A 00 AC 03 01 FA 00 18 FF 00 00")),
         FrameError::BadPayload},
        {"eight places, three characters",
         Reseal(FromHex("FE 0D 00 AC 03 01 FA 00 18 00 00 00 FF 00 00")), FrameError::BadPayload},
        {"a point takes a place of its own",
         Reseal(FromHex("FE 0C 00 AB 01 01 FA 00 13 12 02 FF 00 00")), FrameError::BadPayload},
        {"256 bytes",
         [] {
             Frame f(256, 0x00);
             f[0] = kStartByte;
             f[1] = 254;
             f[3] = kInitialise;
             f[253] = kEndMarker;
             return Reseal(f);
         }(),
         FrameError::TooLong},
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

// A block runs to the next line marker or the end marker: more characters
// than the digit count (0 places keep N + 1 digits) and fewer (several
// points) are what the builder makes, and the decoder takes them.
TEST(DecodeFrame, LineBlocksRunToTheNextMarker) {
    struct Case {
        const char* name;
        ContentLine line;
        const char* shown;
    };
    const Case cases[] = {
        {"0 places keep N + 1 digits", {true, 3, "2345", false, false}, "2345"},
        {"hand-edited long text", {true, 3, "123456789", false, true}, "123456789."},
        {"two points", {true, 3, "1.2.", false, false}, "1.2."},
        {"digit count from a hand-edited file", {true, 9, "123", true, false}, ""},
        {"digit count 0", {true, 0, "123", false, true}, ""},
    };
    for (const Case& c : cases) {
        ContentRecord record;
        for (ContentLine& line : record.lines) {
            line.included = false;
        }
        record.lines[4] = c.line; // line 5's marker is FE, the start byte's value
        record.lines[5] = {true, 4, "1", false, false};
        const auto built = EncodeContentFrame(record);
        ASSERT_TRUE(built.frame) << c.name;
        const auto decoded = DecodeFrame(*built.frame);
        ASSERT_TRUE(decoded.frame) << c.name << ": " << decoded.reason;
        ASSERT_EQ(decoded.frame->lines.size(), 2u) << c.name;
        EXPECT_EQ(decoded.frame->lines[0].line, 5) << c.name;
        EXPECT_EQ(decoded.frame->lines[0].text, c.shown) << c.name;
        EXPECT_EQ(decoded.frame->lines[1].text, "   1") << c.name;
    }
    // Characters in a block whose digit count the builder sends without any.
    const auto bad = DecodeFrame(Reseal(FromHex("FE 0C 01 AB 01 01 FA 00 1B 01 02 FF 00 00")));
    EXPECT_EQ(bad.error, FrameError::BadPayload) << bad.reason;
}

// The content frame rebuilt from what the decoder made of it.
Frame Rebuild(const DecodedFrame& frame) {
    ContentRecord record;
    record.address = frame.address;
    record.update_index = frame.at_once ? 0 : frame.hour_code;
    for (ContentLine& line : record.lines) {
        line.included = false;
    }
    for (const DecodedLine& line : frame.lines) {
        record.lines[static_cast<std::size_t>(line.line - 1)] = {true, line.digit_count, line.text,
                                                                 line.flicker, false};
    }
    return EncodeContentFrame(record).frame.value_or(Frame{});
}

// Property: whatever the dialog's state and the settings file, the frame the
// builder makes is accepted by the decoder, carries the lines it was given,
// and rebuilds from its decoded fields byte for byte.
TEST(DecodeFrame, EveryBuiltFrameDecodesAndRebuilds) {
    std::mt19937 random(20261208);
    auto pick = [&](auto const& items) {
        return items[std::uniform_int_distribution<std::size_t>(0, std::size(items) - 1)(random)];
    };
    auto chance = [&](int percent) {
        return std::uniform_int_distribution<int>(0, 99)(random) < percent;
    };
    const char* digit_counts[] = {"3", "4", "5", "6", "7", "8", "3", "8", "", "0", "9", "12", "x"};
    const char* places[] = {"No", "0", "1", "2", "3", "4", "No", "0", "", "7", "no"};
    const char* modes[] = {"1", "1", "2", "0"};
    const std::string alphabet = "0123456789012345678.-+e x";
    test::TempDir dir;
    const SettingsFile settings(dir / "Config.ini");
    for (int round = 0; round < 400; ++round) {
        std::string file = "[Set]\nSet=" + std::string(pick(modes)) +
                           "\nsetsws=" + pick(digit_counts) + "\nsetsss=" + pick(places) +
                           "\nADD485=" + std::to_string(round % 100) + "\n";
        for (std::size_t i = 0; i < kLineCount; ++i) {
            file += std::string(keys::kDigitCount[i].name) + "=" + pick(digit_counts) + "\n";
            file += std::string(keys::kDecimalPlaces[i].name) + "=" + pick(places) + "\n";
        }
        file += "[Text]\n";
        for (std::size_t i = 0; i < kLineCount; ++i) {
            file +=
                std::string(keys::kLineChosen[i].name) + "=" + (chance(75) ? "Yes" : "No") + "\n";
        }
        test::WriteFileOrFail(dir / "Config.ini", file);
        const auto formats = LineFormatsAfterRefresh(settings);
        DialogLines dialog;
        std::array<std::string, kLineCount> counts;
        for (std::size_t i = 0; i < kLineCount; ++i) {
            std::string typed;
            const int length = std::uniform_int_distribution<int>(0, 12)(random);
            for (int k = 0; k < length; ++k) {
                typed += pick(alphabet);
            }
            // Mostly what the line editor leaves, sometimes a hand-edited text.
            dialog.texts[i] = chance(80)
                                  ? FormatLineText(typed, ShownDigitCount(formats[i].numbers),
                                                   ShownDecimalPlaces(formats[i].places))
                                        .value_or("")
                                  : typed.substr(0, 9);
            dialog.flicker[i] = chance(30);
            dialog.point[i] = chance(30);
            counts[i] = formats[i].numbers;
        }
        dialog.update_index = std::uniform_int_distribution<int>(-1, 24)(random);
        const auto built = BuildContentFrame(dialog, settings, counts);
        ASSERT_TRUE(built.frame) << built.refusal;
        const auto decoded = DecodeFrame(*built.frame);
        ASSERT_TRUE(decoded.frame) << decoded.reason << "\n" << FormatHex(*built.frame);
        int included = 0;
        for (std::size_t i = 0; i < kLineCount; ++i) {
            included += settings.Read(keys::kLineChosen[i]) == "Yes" ? 1 : 0;
        }
        EXPECT_EQ(static_cast<int>(decoded.frame->lines.size()), included);
        EXPECT_EQ(decoded.frame->address, round % 100);
        EXPECT_EQ(decoded.frame->at_once, dialog.update_index <= 0);
        EXPECT_EQ(Rebuild(*decoded.frame), *built.frame) << FormatHex(*built.frame);
    }
}

} // namespace
} // namespace lumidex
