#pragma once

#include "link/link.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace lumidex {

// The serial line's baud rates, as the baud list offers them, and the one a
// send uses until another is chosen.
inline constexpr std::array<int, 2> kBaudRates{9600, 57600};
inline constexpr std::array<std::string_view, 2> kBaudItems{"9600", "57600"};
inline constexpr int kDefaultBaud = kBaudRates[0];

inline constexpr std::chrono::milliseconds kSerialReplyDelay{200};
inline constexpr std::chrono::milliseconds kSerialReadTimeout{2000};

// A serial port for one exchange. Open takes the device exclusively (a port
// another program holds fails at once, root included), sets 8 data bits, no
// parity, one stop bit at the baud rate and a raw line, and discards both
// queues. Write discards the output queue and writes the whole frame within
// the write time-out (1000 ms + 1000 ms per byte). Read waits up to its
// time-out for the bytes and then discards everything still pending. A
// device that goes away fails the call at once instead of waiting.
std::unique_ptr<Link> MakeSerialPort(std::string_view device, int baud);

} // namespace lumidex
