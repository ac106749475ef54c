#pragma once

#include "protocol/frame_decoder.h"

#include <cstdint>
#include <span>
#include <string>

namespace lumidex {

// The simulator's --json output, one object per line (no line break at the
// end). Texts that are not UTF-8 are written with U+FFFD in place of the
// bytes that break it, so a line is always valid JSON.

// A decoded or refused frame: link, peer, hex, valid, then the command,
// address and decoded fields (or the decoder's error), and the answer given
// ("accepted", "rejected" or "none").
std::string FrameReportJson(const std::string& link, const std::string& peer,
                            std::span<const std::uint8_t> bytes, const DecodeResult& decoded,
                            const std::string& answer);

// Input the card took no notice of, with what it was ("garbage", ...).
std::string IgnoredReportJson(const std::string& link, const std::string& peer,
                              std::span<const std::uint8_t> bytes, const std::string& what);

// How many reports the rate limit held back, and of what: "frames" the card
// took, or "rejected input" ({"held_back":N,"of":"frames"}).
std::string HeldBackReportJson(long held_back, bool valid);

} // namespace lumidex
