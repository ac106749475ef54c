// The simulator's event loop on POSIX: a UDP socket, a serial device or a
// pseudo-terminal, and SIGINT/SIGTERM, all waited for with poll().
#include "link/raw_line_posix.h"
#include "tools/sim/frame_assembler.h"
#include "tools/sim/reporter.h"
#include "tools/sim/simulator.h"

#include <arpa/inet.h>
#include <cerrno>
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

} // namespace lumidex
