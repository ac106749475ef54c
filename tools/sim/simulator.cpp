#include "tools/sim/simulator.h"

#include "link/address.h"
#include "protocol/frame.h"

#include <charconv>
#include <ostream>

namespace lumidex {
namespace {

bool ParseNumber(const std::string& text, long& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && value >= 0;
}

} // namespace

ReplyBlock MakeReply(std::uint8_t address, std::uint8_t command, bool accepted) {
    ReplyBlock reply{};
    reply[0] = kStartByte;
    reply[1] = kReplySize - kChecksumBytes;
    reply[2] = address;
    reply[kReplyStatusByte] = accepted ? kReplyAccepted : 0;
    reply[4] = command;
    reply[kReplySize - 3] = kEndMarker;
    const std::uint16_t crc = Crc16Xmodem(std::span(reply).first(kReplySize - kChecksumBytes));
    reply[kReplySize - 2] = static_cast<std::uint8_t>(crc >> 8);
    reply[kReplySize - 1] = static_cast<std::uint8_t>(crc & 0xFF);
    return reply;
}

ControlCard::Outcome ControlCard::Receive(std::span<const std::uint8_t> frame) {
    ++frames_;
    Outcome outcome{DecodeFrame(frame), std::nullopt, false};
    if (outcome.decoded.frame) {
        display_.Apply(*outcome.decoded.frame);
    }
    if (frames_ <= options_.drop) {
        outcome.dropped = true;
        return outcome;
    }
    if (options_.reply == ReplyMode::Silent) {
        return outcome;
    }
    if (!outcome.decoded.frame) {
        return outcome;
    }
    outcome.reply = MakeReply(outcome.decoded.frame->address, outcome.decoded.frame->command,
                              options_.reply == ReplyMode::Ok);
    return outcome;
}

bool ReportLimiter::Allow(Clock::time_point now, long& held_back) {
    if (in_window_ == 0 || now - window_start_ >= window_) {
        window_start_ = now;
        in_window_ = 0;
    }
    if (in_window_ >= burst_) {
        ++held_back_;
        return false;
    }
    ++in_window_;
    held_back = held_back_;
    held_back_ = 0;
    return true;
}

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string* {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--pty") {
            options.pty = true;
        } else if (arg == "--udp") {
            const std::string* v = value();
            if (!v) {
                return std::nullopt;
            }
            const std::size_t colon = v->find(':');
            options.udp_address = v->substr(0, colon);
            long port = options.udp_port;
            if (!ParseDottedAddress(options.udp_address) ||
                (colon != std::string::npos &&
                 (!ParseNumber(v->substr(colon + 1), port) || port < 1 || port > 65535))) {
                error = "--udp wants ADDR[:PORT] with an IPv4 address, got '" + *v + "'";
                return std::nullopt;
            }
            options.udp_port = static_cast<std::uint16_t>(port);
        } else if (arg == "--serial") {
            const std::string* v = value();
            if (!v) {
                return std::nullopt;
            }
            options.serial = *v;
        } else if (arg == "--baud") {
            const std::string* v = value();
            long baud = 0;
            if (!v || !ParseNumber(*v, baud) || baud == 0) {
                error = "--baud wants a positive number";
                return std::nullopt;
            }
            options.baud = static_cast<int>(baud);
        } else if (arg == "--reply") {
            const std::string* v = value();
            if (!v) {
                return std::nullopt;
            }
            if (*v == "ok") {
                options.reply = ReplyMode::Ok;
            } else if (*v == "nak") {
                options.reply = ReplyMode::Nak;
            } else if (*v == "silent") {
                options.reply = ReplyMode::Silent;
            } else {
                error = "--reply wants ok, nak or silent, got '" + *v + "'";
                return std::nullopt;
            }
        } else if (arg == "--drop" || arg == "--count") {
            const std::string* v = value();
            long n = 0;
            if (!v || !ParseNumber(*v, n)) {
                error = arg + " wants a number of frames";
                return std::nullopt;
            }
            if (arg == "--drop") {
                options.drop = n;
            } else {
                options.count = n;
            }
        } else {
            error = "unknown argument " + arg;
            return std::nullopt;
        }
    }
    if (options.pty && options.serial) {
        error = "--serial and --pty cannot be used together";
        return std::nullopt;
    }
    return options;
}

std::string SimUsage() {
    return R"(Usage: lumidex-sim [--udp ADDR[:PORT]] [--serial DEVICE | --pty] [--baud N]
                  [--reply ok|nak|silent] [--drop N] [--count N] [--json]

A virtual control card for the Lumidex display. It takes one frame per
datagram or serial write, checks it, shows what the display would show and
answers 23 bytes whose byte 3 is 1 (accepted) or 0 (rejected). Input that is
no frame gets no answer, nor does a datagram from its own address.

  --udp ADDR[:PORT]   where to listen for datagrams (default 127.0.0.1:10006)
  --serial DEVICE     read frames from a serial device
  --pty               create a pseudo-terminal and print "serial: /dev/pts/N"
  --baud N            serial line speed (default 9600)
  --reply MODE        ok (default), nak (answer "rejected"), silent (no answer)
  --drop N            give the first N frames no answer
  --count N           stop after N frames
  --json              one JSON object per frame instead of the picture
)";
}

} // namespace lumidex
