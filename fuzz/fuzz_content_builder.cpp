// Builds content frames from fuzzed lines and, when the input carries one, a
// fuzzed settings file, then hands every frame to the decoder.
//
// Input: byte 0 the bus address, byte 1 the "Update in" index (signed), then
// per line a flags byte (1 included, 2 flicker, 4 "9/10") and a digit-count
// byte (3 + byte % 6, what the lists offer); after these 14 bytes come the
// six line texts and the settings file text, separated by zero bytes. With a
// settings text the frame is built the way the send buttons build it: bus
// address, chosen lines and digit counts come from the file.
//
// Properties: the builder refuses only texts longer than their line can
// show; texts the formatting leaves (at most N + 1 characters) make a frame
// of at most 81 bytes; whatever it builds, the decoder accepts, reads back
// the same lines, and the builders make again byte for byte (unless a
// hand-edited digit count's byte reads as another count, see below).

#include "fuzz/fuzz_support.h"

#include "protocol/content_frame.h"
#include "protocol/frame_decoder.h"
#include "settings/keys.h"
#include "settings/text_codec.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

using namespace lumidex;

namespace {

constexpr std::size_t kHeaderBytes = 2 + 2 * kLineCount;
// Offset 5 of the frame plus blocks of 3 + 9 bytes, the end marker and the
// checksum: the largest frame that texts of at most N + 1 characters make.
constexpr std::size_t kLargestFormattedFrame = 81;

struct LineFacts {
    bool included = false;
    std::int32_t digit_count = 0;
    std::string text;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes) {
        return 0;
    }
    const auto fields = fuzz::SplitFields(data + kHeaderBytes, size - kHeaderBytes, kLineCount + 1);
    ContentRecord record;
    record.address = data[0];
    record.update_index = static_cast<std::int8_t>(data[1]) % 25; // -24 .. 24
    DialogLines dialog;
    dialog.update_index = record.update_index;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        const std::uint8_t flags = data[2 + 2 * i];
        ContentLine& line = record.lines[i];
        line.included = (flags & 1) != 0;
        line.flicker = (flags & 2) != 0;
        line.point = (flags & 4) != 0;
        line.digit_count = 3 + data[3 + 2 * i] % 6;
        line.text = std::string(fields[i]);
        dialog.texts[i] = line.text;
        dialog.flicker[i] = line.flicker;
        dialog.point[i] = line.point;
    }

    const std::string_view settings_text = fields[kLineCount];
    ContentFrameResult built;
    std::array<LineFacts, kLineCount> facts;
    if (settings_text.empty()) {
        built = EncodeContentFrame(record);
        for (std::size_t i = 0; i < kLineCount; ++i) {
            facts[i] = {record.lines[i].included, record.lines[i].digit_count,
                        record.lines[i].text};
        }
    } else {
        std::ofstream(fuzz::ScratchSettingsPath(), std::ios::binary | std::ios::trunc)
            << settings_text;
        const SettingsFile settings(fuzz::ScratchSettingsPath());
        built = BuildContentFrame(dialog, settings);
        record.address = ReadBusAddress(settings);
        for (std::size_t i = 0; i < kLineCount; ++i) {
            facts[i] = {settings.Read(keys::kLineChosen[i]).starts_with('Y'),
                        settings.ReadNumber(keys::kDigitCount[i]), dialog.texts[i]};
        }
    }

    bool texts_fit = true; // every included text has at most N + 1 characters
    // A digit count that is no list item but whose byte 0x10 + N reads as 3..8
    // (9476 gives 0x14) sends a block the controller must take for a line
    // of N % 256 digits without its characters: the bytes are as they must
    // be, but no decoder can give the count back.
    bool count_aliased = false;
    std::size_t included = 0;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        if (!facts[i].included) {
            continue;
        }
        ++included;
        const std::int32_t n = facts[i].digit_count;
        const int read_as = ((n + 0x10) & 0xFF) - 0x10;
        count_aliased = count_aliased || ((n < 3 || n > 8) && read_as >= 3 && read_as <= 8);
        texts_fit =
            texts_fit &&
            (n < 3 || n > 8 || CountCharacters(facts[i].text) <= static_cast<std::size_t>(n) + 1);
    }
    const auto lines_shown = [&] {
        std::string shown;
        for (std::size_t i = 0; i < kLineCount; ++i) {
            if (facts[i].included) {
                shown += "line " + std::to_string(i + 1) + ": " +
                         std::to_string(facts[i].digit_count) + " digits, \"" +
                         fuzz::Printable(facts[i].text) + "\"\n";
            }
        }
        return shown;
    };

    if (!built.frame) {
        fuzz::Require(!built.refusal.empty(), "a refused frame says why", lines_shown);
        fuzz::Require(!texts_fit, "only over-long texts make the builder refuse",
                      [&] { return lines_shown() + built.refusal; });
        return 0;
    }
    const Frame& frame = *built.frame;
    const auto details = [&] { return lines_shown() + "frame: " + FormatHex(frame); };
    fuzz::Require(frame.size() <= kMaxFrameSize, "a built frame fits the largest frame", details);
    fuzz::Require(!texts_fit || frame.size() <= kLargestFormattedFrame,
                  "formatted texts make a frame of at most 81 bytes", details);
    if (count_aliased) {
        return 0;
    }
    const DecodeResult decoded = DecodeFrame(frame);
    fuzz::Require(decoded.frame.has_value(), "the decoder accepts what the builder makes",
                  [&] { return details() + "\n" + decoded.reason; });
    const DecodedFrame& got = *decoded.frame;
    const int index = record.update_index < 0 ? 0 : record.update_index;
    fuzz::Require(got.address == record.address, "the address reads back", details);
    fuzz::Require(got.at_once == (index == 0) && got.hour_code == (index == 0 ? 1 : index),
                  "the update time reads back", details);
    fuzz::Require(got.lines.size() == included, "every included line reads back", details);
    std::size_t next = 0;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        if (!facts[i].included) {
            continue;
        }
        const DecodedLine& line = got.lines[next++];
        // The frame carries the digit count as one byte, 0x10 + N.
        const auto count_byte = [](std::int32_t n) { return (n + 0x10) & 0xFF; };
        fuzz::Require(line.line == static_cast<int>(i) + 1 &&
                          count_byte(line.digit_count) == count_byte(facts[i].digit_count) &&
                          line.flicker == dialog.flicker[i],
                      "each line reads back with its number, digit count and flicker", details);
    }
    const auto rebuilt = fuzz::RebuildFrame(got);
    fuzz::Require(rebuilt && *rebuilt == frame, "a built frame rebuilds byte for byte", [&] {
        return details() + "\nrebuilt: " + (rebuilt ? FormatHex(*rebuilt) : std::string("none"));
    });
    return 0;
}
