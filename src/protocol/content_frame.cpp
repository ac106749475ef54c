#include "protocol/content_frame.h"

#include "settings/text_codec.h"

#include <cstdio>

namespace lumidex {
namespace {

constexpr std::uint8_t kFirstLineMarker = 0xFA;
constexpr std::uint8_t kDigitCountBase = 0x10;
constexpr std::uint8_t kBlank = 0x10;
constexpr std::uint8_t kPointAdd = 0x11;
constexpr std::uint8_t kBlankWithPoint = kBlank + kPointAdd;
constexpr int kMinDigits = 3;
constexpr int kMaxDigits = 8;
constexpr int kMidnightIndex = 24;

// The text right-justified with blanks in a field of N characters, or N + 1
// when it holds a point; a longer text stays whole. Empty when the digit
// count is outside 3..8.
std::u32string PadLineText(std::string_view text, std::int32_t digit_count) {
    if (digit_count < kMinDigits || digit_count > kMaxDigits) {
        return {};
    }
    std::u32string chars = ToCodePoints(text);
    const std::size_t field =
        static_cast<std::size_t>(digit_count) + (chars.find(U'.') != std::u32string::npos ? 1 : 0);
    if (chars.size() < field) {
        chars.insert(0, field - chars.size(), U' ');
    }
    return chars;
}

void AppendLineBlock(Frame& out, int line_index, const ContentLine& line) {
    out.push_back(static_cast<std::uint8_t>(kFirstLineMarker + line_index));
    out.push_back(line.flicker ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>((kDigitCountBase + line.digit_count) & 0xFF));
    const std::size_t first_char = out.size();
    auto carries_plain_char = [&] { return out.size() > first_char && out.back() < kPointAdd; };
    for (char32_t c : PadLineText(line.text, line.digit_count)) {
        if (c == U'.') {
            if (carries_plain_char()) {
                out.back() += kPointAdd;
            } else {
                out.push_back(kBlankWithPoint);
            }
        } else if (c == U' ') {
            out.push_back(kBlank);
        } else if (c >= U'0' && c <= U'9') {
            out.push_back(static_cast<std::uint8_t>(c - U'0'));
        } else {
            out.push_back(0x00); // a minus sign or anything else the display cannot show
        }
    }
    if (line.point && carries_plain_char()) {
        out.back() += kPointAdd;
    }
}

} // namespace

ContentFrameResult EncodeContentFrame(const ContentRecord& record) {
    const int index = record.update_index < 0 ? 0 : record.update_index;
    Frame payload{static_cast<std::uint8_t>(index == 0 ? 1 : index), 0};
    std::uint8_t blocks = 0;
    for (int i = 0; i < kLineCount; ++i) {
        const ContentLine& line = record.lines[static_cast<std::size_t>(i)];
        if (line.included) {
            AppendLineBlock(payload, i, line);
            ++blocks;
        }
    }
    payload[1] = blocks;
    const std::size_t size = payload.size() + kEnvelopeBytes + kChecksumBytes;
    if (size > kMaxFrameSize) {
        char reason[120];
        std::snprintf(reason, sizeof reason,
                      "the content frame would take %zu bytes, more than the %zu a frame holds",
                      size, kMaxFrameSize);
        return {std::nullopt, reason};
    }
    return {BuildEnvelope(record.address, index == 0 ? kContentNow : kContentAtHour, payload), {}};
}

std::uint8_t ReadBusAddress(const SettingsFile& settings) {
    return static_cast<std::uint8_t>(settings.ReadNumber(keys::kBusAddress) & 0xFF);
}

ContentFrameResult BuildContentFrame(const DialogLines& dialog, const SettingsFile& settings) {
    std::array<std::string, kLineCount> digit_counts;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        digit_counts[i] = settings.Read(keys::kDigitCount[i]);
    }
    return BuildContentFrame(dialog, settings, digit_counts);
}

ContentFrameResult BuildContentFrame(const DialogLines& dialog, const SettingsFile& settings,
                                     const std::array<std::string, kLineCount>& digit_counts) {
    ContentRecord record;
    record.update_index = dialog.update_index;
    record.address = ReadBusAddress(settings);
    for (std::size_t i = 0; i < kLineCount; ++i) {
        ContentLine& line = record.lines[i];
        line.included = keys::IsChosenForFrame(settings.Read(keys::kLineChosen[i]));
        line.digit_count = LeadingNumber(digit_counts[i]);
        line.text = dialog.texts[i];
        line.flicker = dialog.flicker[i];
        line.point = dialog.point[i];
    }
    return EncodeContentFrame(record);
}

Frame BuildBrightnessFrame(const SettingsFile& settings) {
    auto level = [&](const SettingKey& key) {
        return static_cast<std::uint8_t>(settings.ReadNumber(key) & 0xFF);
    };
    return BuildBrightnessFrame(ReadBusAddress(settings), level(keys::kDayBrightness),
                                level(keys::kNightBrightness));
}

Frame BuildClockFrame(const SettingsFile& settings, const ClockTime& time) {
    return BuildClockFrame(ReadBusAddress(settings), time);
}

DialogLines LinesAfterRefresh(const SettingsFile& settings) {
    DialogLines lines;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        lines.texts[i] = settings.Read(keys::kLineText[i]);
        lines.flicker[i] = settings.ReadNumber(keys::kFlicker[i]) != 0;
        lines.point[i] = settings.ReadNumber(keys::kPoint[i]) != 0;
    }
    lines.update_index = UpdateIndexFromText(settings.Read(keys::kUpdateTime)).value_or(-1);
    return lines;
}

std::optional<int> UpdateIndexFromText(std::string_view text) {
    if (EqualIgnoringCase(text, "Now")) {
        return 0;
    }
    if (text.size() != 5 || text.substr(2) != ":00" || text[0] < '0' || text[0] > '2' ||
        text[1] < '0' || text[1] > '9') {
        return std::nullopt;
    }
    const int hour = (text[0] - '0') * 10 + (text[1] - '0');
    if (hour > 23) {
        return std::nullopt;
    }
    return hour == 0 ? kMidnightIndex : hour;
}

} // namespace lumidex
