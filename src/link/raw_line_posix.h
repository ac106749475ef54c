#pragma once

namespace lumidex {

// Sets a terminal device to a raw 8N1 line at the baud rate (a rate the
// platform does not know leaves the speed as it was). Hardware flow control
// stays as the device had it. Returns false when the device refused.
bool ConfigureRawLine(int fd, int baud);

} // namespace lumidex
