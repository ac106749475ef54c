// The card's links on POSIX: a UDP socket, a serial device or a
// pseudo-terminal, and SIGINT/SIGTERM, all waited for with poll().
#include "link/raw_line_posix.h"
#include "tools/sim/card_links.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace lumidex {
namespace {

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

class PosixCardLinks final : public CardLinks {
public:
    ~PosixCardLinks() override {
        // A signal after the card has stopped reaches what was there before.
        ::sigaction(SIGINT, &old_int_, nullptr);
        ::sigaction(SIGTERM, &old_term_, nullptr);
        g_signal_pipe[0] = g_signal_pipe[1] = -1;
    }

    bool Start(std::string& error) {
        if (::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            error = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        signal_read_.fd = g_signal_pipe[0];
        signal_write_.fd = g_signal_pipe[1];
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        ::sigaction(SIGINT, &action, &old_int_);
        ::sigaction(SIGTERM, &action, &old_term_);
        ::signal(SIGPIPE, SIG_IGN);
        return true;
    }

    std::optional<std::string> OpenSerial(const SimOptions& options, std::string& name) override {
        if (options.pty) {
            serial_.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (serial_.fd < 0 || ::grantpt(serial_.fd) != 0 || ::unlockpt(serial_.fd) != 0) {
                return std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
            }
            name = ::ptsname(serial_.fd);
            // The pseudo-terminal's own end, held so the line stays up.
            pty_peer_.fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ConfigureRawLine(pty_peer_.fd, options.baud);
            ::fcntl(serial_.fd, F_SETFL, O_NONBLOCK);
        } else if (options.serial) {
            name = *options.serial;
            serial_.fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (serial_.fd < 0) {
                return "cannot open " + name + ": " + std::strerror(errno);
            }
            ConfigureRawLine(serial_.fd, options.baud);
        }
        return std::nullopt;
    }

    std::optional<std::string> OpenUdp(const SimOptions& options, UdpEndpoint& own) override {
        udp_.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(options.udp_port);
        ::inet_pton(AF_INET, options.udp_address.c_str(), &address.sin_addr);
        if (udp_.fd < 0 ||
            ::bind(udp_.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return std::strerror(errno);
        }
        socklen_t size = sizeof address;
        ::getsockname(udp_.fd, reinterpret_cast<sockaddr*>(&address), &size);
        own = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
        return std::nullopt;
    }

    CardInput Wait(std::optional<Clock::time_point> until) override {
        CardInput input;
        int timeout = -1;
        if (until) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        pollfd fds[3] = {
            {signal_read_.fd, POLLIN, 0}, {udp_.fd, POLLIN, 0}, {serial_.fd, POLLIN, 0}};
        if (::poll(fds, 3, timeout) < 0) {
            if (errno != EINTR) {
                input.failure = std::string("poll: ") + std::strerror(errno);
            }
            return input;
        }
        if (fds[0].revents & POLLIN) {
            input.stop = true;
            return input;
        }
        if (fds[1].revents & POLLIN) {
            sockaddr_in sender{};
            socklen_t size = sizeof sender;
            const ssize_t got =
                ::recvfrom(udp_.fd, datagram_.data(), datagram_.size(), MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&sender), &size);
            if (got >= 0) {
                input.sender = {ntohl(sender.sin_addr.s_addr), ntohs(sender.sin_port)};
                input.datagram = std::span(datagram_).first(static_cast<std::size_t>(got));
            }
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t got = ::read(serial_.fd, serial_bytes_.data(), serial_bytes_.size());
            if (got > 0) {
                input.serial = std::span(serial_bytes_).first(static_cast<std::size_t>(got));
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                input.serial_closed = true;
            }
        }
        return input;
    }

    void AnswerDatagram(const UdpEndpoint& to, const ReplyBlock& reply) override {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(to.address);
        address.sin_port = htons(to.port);
        ::sendto(udp_.fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&address),
                 sizeof address);
    }

    void AnswerSerial(const ReplyBlock& reply) override {
        [[maybe_unused]] const ssize_t ignored = ::write(serial_.fd, reply.data(), reply.size());
    }

    void LetAnswerArrive() override { DrainSerialAnswer(serial_.fd, pty_peer_.fd); }

private:
    Fd signal_read_;
    Fd signal_write_;
    struct sigaction old_int_ {};
    struct sigaction old_term_ {};
    Fd serial_;   // where frames are read and answers written
    Fd pty_peer_; // with --pty: the line's other end
    Fd udp_;
    std::array<std::uint8_t, 65536> datagram_{};
    std::array<std::uint8_t, 512> serial_bytes_{};
};

} // namespace

std::unique_ptr<CardLinks> CardLinks::Create(std::string& error) {
    auto links = std::make_unique<PosixCardLinks>();
    if (!links->Start(error)) {
        return nullptr;
    }
    return links;
}

} // namespace lumidex
