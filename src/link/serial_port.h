#pragma once

#include "link/link.h"

#include <memory>
#include <string>
#include <string_view>

namespace lumidex {

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
