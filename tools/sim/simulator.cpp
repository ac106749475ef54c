#include "tools/sim/simulator.h"

#include "link/address.h"
#include "protocol/frame.h"
#include "cli/cli.h"
#include "tools/sim/card_links.h"
#include "tools/sim/frame_assembler.h"
#include "tools/sim/reporter.h"

#include <charconv>
#include <ostream>

namespace lumidex {
namespace {

bool ParseNumber(const std::string& text, long& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && value >= 0;
}

// A serial line quiet for this long in the middle of a frame has lost it.
constexpr std::chrono::milliseconds kSerialIdle{100};

// A datagram from the card's own address and port (a forged source, or a
// second card answering this one) is never answered: that would loop.
bool FromSelf(const UdpEndpoint& sender, const UdpEndpoint& own) {
    return sender.port == own.port && (own.address == 0 || sender.address == own.address);
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
    CLI::App parser("lumidex-sim");
    ConfigureToolParser(parser);
    std::string udp, serial, baud, reply, drop, count;
    AddFlag(parser, "-h,--help", options.help);
    AddFlag(parser, "--version", options.version);
    AddFlag(parser, "--json", options.json);
    AddFlag(parser, "--pty", options.pty);
    const auto* udp_given = AddSingle(parser, "--udp", udp);
    const auto* serial_given = AddSingle(parser, "--serial", serial);
    const auto* baud_given = AddSingle(parser, "--baud", baud);
    const auto* reply_given = AddSingle(parser, "--reply", reply);
    const auto* drop_given = AddSingle(parser, "--drop", drop);
    const auto* count_given = AddSingle(parser, "--count", count);
    if (auto refused = ParseArguments(parser, args)) {
        error = *refused;
        return std::nullopt;
    }
    if (Given(udp_given)) {
        const std::size_t colon = udp.find(':');
        options.udp_address = udp.substr(0, colon);
        long port = options.udp_port;
        if (!ParseDottedAddress(options.udp_address) ||
            (colon != std::string::npos &&
             (!ParseNumber(udp.substr(colon + 1), port) || port < 1 || port > 65535))) {
            error = "--udp wants ADDR[:PORT] with an IPv4 address, got '" + udp + "'";
            return std::nullopt;
        }
        options.udp_port = static_cast<std::uint16_t>(port);
    }
    if (Given(serial_given)) {
        options.serial = serial;
    }
    if (Given(baud_given)) {
        long value = 0;
        if (!ParseNumber(baud, value) || value == 0 || value > 4000000) {
            error = "--baud wants a positive number";
            return std::nullopt;
        }
        options.baud = static_cast<int>(value);
    }
    if (Given(reply_given)) {
        if (reply == "ok") {
            options.reply = ReplyMode::Ok;
        } else if (reply == "nak") {
            options.reply = ReplyMode::Nak;
        } else if (reply == "silent") {
            options.reply = ReplyMode::Silent;
        } else {
            error = "--reply wants ok, nak or silent, got '" + reply + "'";
            return std::nullopt;
        }
    }
    if (Given(drop_given) && !ParseNumber(drop, options.drop)) {
        error = "--drop wants a number of frames";
        return std::nullopt;
    }
    if (Given(count_given)) {
        long n = 0;
        if (!ParseNumber(count, n)) {
            error = "--count wants a number of frames";
            return std::nullopt;
        }
        options.count = n;
    }
    if (options.pty && options.serial) {
        error = "--serial and --pty cannot be used together";
        return std::nullopt;
    }
    return options;
}

int RunSimulator(const SimOptions& options, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto links = CardLinks::Create(error);
    if (!links) {
        err << "lumidex-sim: " << error << "\n";
        return 2;
    }
    std::string serial_name;
    if (const auto refused = links->OpenSerial(options, serial_name)) {
        err << "lumidex-sim: " << *refused << "\n";
        return 2;
    }
    // UDP listens always; the serial line is announced first, so a sender
    // can take its name from the first line.
    if (!serial_name.empty()) {
        out << "serial: " << serial_name << "\n" << std::flush;
    }
    UdpEndpoint own;
    if (const auto refused = links->OpenUdp(options, own)) {
        err << "lumidex-sim: cannot listen on " << options.udp_address << ":" << options.udp_port
            << ": " << *refused << "\n";
        return 2;
    }
    out << "udp: " << options.udp_address << ":" << options.udp_port << "\n" << std::flush;

    ControlCard card(options);
    Reporter report(options, out);
    FrameAssembler assembler;
    auto handle = [&](const std::string& link, const std::string& peer,
                      std::span<const std::uint8_t> bytes, auto answer) {
        const auto outcome = card.Receive(bytes);
        if (outcome.reply) {
            answer(*outcome.reply);
        }
        report.Frame(link, peer, bytes, outcome, card.display());
    };
    auto serial_pieces = [&](const std::vector<FrameAssembler::Piece>& pieces) {
        for (const auto& piece : pieces) {
            if (piece.kind == FrameAssembler::Piece::Frame) {
                handle("serial", serial_name, piece.bytes,
                       [&](const ReplyBlock& reply) { links->AnswerSerial(reply); });
            } else {
                report.Garbage("serial", serial_name, piece.bytes,
                               piece.kind == FrameAssembler::Piece::Truncated);
            }
        }
    };

    auto last_serial_byte = CardLinks::Clock::now();
    while (!options.count || card.frames() < *options.count) {
        std::optional<CardLinks::Clock::time_point> flush_at;
        if (assembler.pending()) {
            flush_at = last_serial_byte + kSerialIdle;
        }
        const CardInput input = links->Wait(flush_at);
        if (input.stop) {
            break;
        }
        if (input.failure) {
            err << "lumidex-sim: " << *input.failure << "\n";
            return 2;
        }
        if (input.sender) {
            const std::string peer = FormatDottedAddress(input.sender->address) + ":" +
                                     std::to_string(input.sender->port);
            if (FromSelf(*input.sender, own)) {
                report.Ignored("udp", peer, input.datagram, "from the card's own address");
            } else {
                handle("udp", peer, input.datagram, [&](const ReplyBlock& reply) {
                    links->AnswerDatagram(*input.sender, reply);
                });
            }
        }
        if (input.serial_closed) {
            err << "lumidex-sim: " << serial_name << " closed\n";
            return 2;
        }
        if (!input.serial.empty()) {
            last_serial_byte = CardLinks::Clock::now();
            serial_pieces(assembler.Feed(input.serial));
        } else if (flush_at && CardLinks::Clock::now() >= *flush_at) {
            serial_pieces(assembler.Flush());
        }
    }
    serial_pieces(assembler.Flush());
    if (options.count && card.frames() >= *options.count) {
        links->LetAnswerArrive();
    }
    return 0;
}

std::optional<std::string> ExposureWarning(const SimOptions& options) {
    const auto address = ParseDottedAddress(options.udp_address);
    if (address && (*address >> 24) == 127) {
        return std::nullopt;
    }
    return "lumidex-sim: warning: listening on " + options.udp_address + ":" +
           std::to_string(options.udp_port) +
           ", beyond this machine: anyone who reaches it can send the card frames and fill "
           "its log; use 127.0.0.1 unless other machines must reach it";
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
  --help              show this text
  --version           show the version and the licence
)";
}

} // namespace lumidex
