#pragma once

#include "link/link.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace lumidex {

// The controller's UDP port.
inline constexpr std::uint16_t kUdpPort = 10006;
inline constexpr std::chrono::milliseconds kUdpTimeout{1000};

// Starts the platform's sockets library for one exchange; false when it
// cannot be started (only possible on Windows).
bool StartSockets();

// A UDP link to one controller: a socket created by Open, one datagram per
// Write to the address at kUdpPort, and answers taken only from that
// address; datagrams from any other host are ignored while the read goes on
// waiting within its time-out. Open fails for a text that is no dotted IPv4
// address and for 0.0.0.0, which names no controller, and when the sockets
// library cannot be started (Windows), after calling `on_sockets_failure`.
std::unique_ptr<Link> MakeUdpLink(std::string_view address, std::uint16_t port = kUdpPort,
                                  std::function<void()> on_sockets_failure = {});

} // namespace lumidex
