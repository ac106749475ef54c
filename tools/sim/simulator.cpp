#include "tools/sim/simulator.h"

#include "link/raw_line_posix.h"
#include "protocol/frame.h"
#include "tools/sim/frame_assembler.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <ostream>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace lumidex {
namespace {

// A serial line quiet for this long in the middle of a frame has lost it.
constexpr int kSerialIdleMs = 100;
// The longest a sender takes to read an answer: 200 ms, then a 2000 ms read.
constexpr std::chrono::milliseconds kDrainLimit{2500};
constexpr std::chrono::milliseconds kDrainShowLimit{100};

int g_signal_pipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_signal_pipe[1], &byte, 1);
}

bool ParseNumber(const std::string& text, long& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && value >= 0;
}

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int value) : fd(value) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Rejected input reported at most this often.
constexpr int kRejectedReportsPerWindow = 20;
constexpr std::chrono::seconds kRejectedReportWindow{1};

class Reporter {
public:
    Reporter(const SimOptions& options, std::ostream& out) : options_(options), out_(out) {}

    void Frame(const std::string& link, const std::string& peer,
               std::span<const std::uint8_t> bytes, const ControlCard::Outcome& outcome,
               const DisplayState& display) {
        const DecodeResult& d = outcome.decoded;
        if (!d.frame && !MayReportRejected()) {
            return;
        }
        const std::string answered = !outcome.reply                  ? "none"
                                     : ReplyAccepted(*outcome.reply) ? "accepted"
                                                                     : "rejected";
        if (options_.json) {
            std::string line = "{\"link\":" + JsonString(link) + ",\"peer\":" + JsonString(peer) +
                               ",\"hex\":" + JsonString(FormatHex(bytes)) +
                               ",\"valid\":" + (d.frame ? "true" : "false");
            if (d.frame) {
                line += ",\"command\":" + JsonString(CommandName(d.frame->command)) +
                        ",\"address\":" + std::to_string(d.frame->address);
                const std::string fields = DecodedFieldsJson(*d.frame);
                line += fields.empty() ? "" : "," + fields;
            } else {
                line += ",\"error\":" + JsonString(d.reason);
            }
            line += ",\"answer\":" + JsonString(answered) + "}\n";
            out_ << line << std::flush;
            return;
        }
        std::string head = link + " " + peer + ": ";
        if (d.frame) {
            head +=
                CommandName(d.frame->command) + " for address " + std::to_string(d.frame->address);
        } else {
            head += "invalid frame (" + d.reason + ")";
        }
        head += outcome.dropped ? ", dropped" : ", answer " + answered;
        out_ << head << "\n  " << FormatHex(bytes) << "\n";
        if (d.frame) {
            out_ << RenderDisplay(display);
        }
        out_ << std::flush;
    }

    void Garbage(const std::string& link, const std::string& peer,
                 std::span<const std::uint8_t> bytes, bool truncated) {
        Ignored(link, peer, bytes, truncated ? "truncated frame" : "garbage");
    }

    // Input the card takes no notice of (garbage, a cut frame, a datagram
    // from its own address), reported within the rate limit.
    void Ignored(const std::string& link, const std::string& peer,
                 std::span<const std::uint8_t> bytes, const std::string& what) {
        if (!MayReportRejected()) {
            return;
        }
        if (options_.json) {
            out_ << "{\"link\":" << JsonString(link) << ",\"peer\":" << JsonString(peer)
                 << ",\"hex\":" << JsonString(FormatHex(bytes))
                 << ",\"valid\":false,\"error\":" << JsonString(what) << ",\"answer\":\"none\"}\n"
                 << std::flush;
            return;
        }
        out_ << link << " " << peer << ": " << what << " ignored (" << bytes.size() << " bytes)\n  "
             << FormatHex(bytes) << "\n"
             << std::flush;
    }

private:
    bool MayReportRejected() {
        long held_back = 0;
        if (!limiter_.Allow(ReportLimiter::Clock::now(), held_back)) {
            return false;
        }
        if (held_back > 0) {
            if (options_.json) {
                out_ << "{\"held_back\":" << held_back << "}\n";
            } else {
                out_ << "(" << held_back << " reports of rejected input held back)\n";
            }
        }
        return true;
    }

    const SimOptions& options_;
    std::ostream& out_;
    ReportLimiter limiter_{kRejectedReportsPerWindow, kRejectedReportWindow};
};

// Lets the last answer reach the peer before the line is closed: closing a
// pseudo-terminal hangs it up and discards what its reader has not taken yet.
// Waits until the bytes have left a real port, and until the sender has read
// them from a pseudo-terminal, at most the sender's read window.
void DrainSerialAnswer(int line, int pty_peer) {
    if (line < 0) {
        return;
    }
    ::tcdrain(line);
    if (pty_peer < 0) {
        return;
    }
    // The answer passes through the kernel's buffer before the sender's side
    // can count it: first wait for it to show, then for it to be read.
    using std::chrono::steady_clock;
    auto unread = [&] {
        int bytes = 0;
        return ::ioctl(pty_peer, FIONREAD, &bytes) == 0 ? bytes : 0;
    };
    const auto shows_by = steady_clock::now() + kDrainShowLimit;
    while (unread() == 0 && steady_clock::now() < shows_by) {
        ::usleep(1000);
    }
    const auto give_up = steady_clock::now() + kDrainLimit;
    while (unread() > 0 && steady_clock::now() < give_up) {
        ::usleep(5000);
    }
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
            in_addr probe{};
            long port = options.udp_port;
            if (::inet_pton(AF_INET, options.udp_address.c_str(), &probe) != 1 ||
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

int RunSimulator(const SimOptions& options, std::ostream& out, std::ostream& err) {
    if (::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        err << "lumidex-sim: pipe: " << std::strerror(errno) << "\n";
        return 2;
    }
    Fd signal_read(g_signal_pipe[0]);
    Fd signal_write(g_signal_pipe[1]);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Fd serial;   // where frames are read and answers written
    Fd pty_peer; // the pseudo-terminal's own end, held so the line stays up
    std::string serial_name;
    if (options.pty) {
        serial.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (serial.fd < 0 || ::grantpt(serial.fd) != 0 || ::unlockpt(serial.fd) != 0) {
            err << "lumidex-sim: cannot create a pseudo-terminal: " << std::strerror(errno) << "\n";
            return 2;
        }
        serial_name = ::ptsname(serial.fd);
        pty_peer.fd = ::open(serial_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ConfigureRawLine(pty_peer.fd, options.baud);
        ::fcntl(serial.fd, F_SETFL, O_NONBLOCK);
    } else if (options.serial) {
        serial_name = *options.serial;
        serial.fd = ::open(serial_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (serial.fd < 0) {
            err << "lumidex-sim: cannot open " << serial_name << ": " << std::strerror(errno)
                << "\n";
            return 2;
        }
        ConfigureRawLine(serial.fd, options.baud);
    }
    if (serial.fd >= 0) {
        out << "serial: " << serial_name << "\n" << std::flush;
    }
    // UDP listens always; the serial line is announced first, so a sender
    // can take its name from the first line.
    Fd udp;
    {
        udp.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(options.udp_port);
        ::inet_pton(AF_INET, options.udp_address.c_str(), &address.sin_addr);
        if (udp.fd < 0 ||
            ::bind(udp.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            err << "lumidex-sim: cannot listen on " << options.udp_address << ":"
                << options.udp_port << ": " << std::strerror(errno) << "\n";
            return 2;
        }
        out << "udp: " << options.udp_address << ":" << options.udp_port << "\n";
    }
    sockaddr_in own{};
    socklen_t own_size = sizeof own;
    ::getsockname(udp.fd, reinterpret_cast<sockaddr*>(&own), &own_size);
    // A datagram from the card's own address and port (a forged source, or a
    // second card answering this one) is never answered: that would loop.
    auto from_self = [&](const sockaddr_in& sender) {
        return sender.sin_port == own.sin_port && (own.sin_addr.s_addr == htonl(INADDR_ANY) ||
                                                   sender.sin_addr.s_addr == own.sin_addr.s_addr);
    };

    out << std::flush;

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
                handle("serial", serial_name, piece.bytes, [&](const ReplyBlock& reply) {
                    [[maybe_unused]] const ssize_t ignored =
                        ::write(serial.fd, reply.data(), reply.size());
                });
            } else {
                report.Garbage("serial", serial_name, piece.bytes,
                               piece.kind == FrameAssembler::Piece::Truncated);
            }
        }
    };

    std::vector<std::uint8_t> datagram(65536);
    while (!options.count || card.frames() < *options.count) {
        pollfd fds[3] = {{signal_read.fd, POLLIN, 0}, {udp.fd, POLLIN, 0}, {serial.fd, POLLIN, 0}};
        const int ready = ::poll(fds, 3, assembler.pending() ? kSerialIdleMs : -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            err << "lumidex-sim: poll: " << std::strerror(errno) << "\n";
            return 2;
        }
        if (fds[0].revents & POLLIN) {
            break;
        }
        if (ready == 0) {
            serial_pieces(assembler.Flush());
            continue;
        }
        if (fds[1].revents & POLLIN) {
            sockaddr_in sender{};
            socklen_t size = sizeof sender;
            const ssize_t got = ::recvfrom(udp.fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&sender), &size);
            if (got >= 0) {
                char host[INET_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET, &sender.sin_addr, host, sizeof host);
                const std::string peer =
                    std::string(host) + ":" + std::to_string(ntohs(sender.sin_port));
                if (from_self(sender)) {
                    report.Ignored("udp", peer,
                                   std::span(datagram).first(static_cast<std::size_t>(got)),
                                   "from the card's own address");
                    continue;
                }
                handle("udp", peer, std::span(datagram).first(static_cast<std::size_t>(got)),
                       [&](const ReplyBlock& reply) {
                           ::sendto(udp.fd, reply.data(), reply.size(), 0,
                                    reinterpret_cast<sockaddr*>(&sender), size);
                       });
            }
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            std::uint8_t bytes[512];
            const ssize_t got = ::read(serial.fd, bytes, sizeof bytes);
            if (got > 0) {
                serial_pieces(
                    assembler.Feed(std::span(bytes).first(static_cast<std::size_t>(got))));
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                err << "lumidex-sim: " << serial_name << " closed\n";
                return 2;
            }
        }
    }
    serial_pieces(assembler.Flush());
    if (options.count && card.frames() >= *options.count) {
        DrainSerialAnswer(serial.fd, pty_peer.fd);
    }
    return 0;
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
