// The simulator's event loop on Windows: a UDP socket waited for with
// WSAPoll, a COM port read without waiting in between, and Ctrl+C or a
// console close to stop.
#include "link/address.h"
#include "link/system_error_win32.h"
#include "link/udp_link.h"
#include "tools/sim/frame_assembler.h"
#include "tools/sim/reporter.h"
#include "tools/sim/simulator.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h, which it needs
#include <mswsock.h>

#include <atomic>
#include <chrono>
#include <ostream>

namespace lumidex {
namespace {

using Clock = std::chrono::steady_clock;

// A serial line quiet for this long in the middle of a frame has lost it.
constexpr std::chrono::milliseconds kSerialIdle{100};
// How long one wait for a datagram lasts while a COM port is read too.
constexpr int kPollWithSerialMs = 10;
constexpr int kPollMs = 100;

std::atomic<bool> g_stop{false};

BOOL WINAPI OnConsoleEvent(DWORD) {
    g_stop = true;
    return TRUE;
}

// Opens a COM port for the simulator: 8N1 at the baud rate, reads that
// return at once with whatever has arrived.
HANDLE OpenComPort(const std::string& name, int baud, std::string& error) {
    std::wstring path = WideFromUtf8(name);
    if (!path.starts_with(L"\\\\")) {
        path = L"\\\\.\\" + path;
    }
    HANDLE port = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        error = SystemMessage(::GetLastError());
        return port;
    }
    DCB line{};
    line.DCBlength = sizeof line;
    if (::GetCommState(port, &line)) {
        line.BaudRate = static_cast<DWORD>(baud);
        line.ByteSize = 8;
        line.Parity = NOPARITY;
        line.StopBits = ONESTOPBIT;
        ::SetCommState(port, &line);
    }
    COMMTIMEOUTS immediate{};
    immediate.ReadIntervalTimeout = MAXDWORD;
    ::SetCommTimeouts(port, &immediate);
    return port;
}

} // namespace

int RunSimulator(const SimOptions& options, std::ostream& out, std::ostream& err) {
    if (options.pty) {
        err << "lumidex-sim: --pty needs a POSIX system; give a COM port with --serial\n";
        return 2;
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);

    HANDLE serial = INVALID_HANDLE_VALUE;
    const std::string serial_name = options.serial.value_or("");
    if (options.serial) {
        std::string error;
        serial = OpenComPort(serial_name, options.baud, error);
        if (serial == INVALID_HANDLE_VALUE) {
            err << "lumidex-sim: cannot open " << serial_name << ": " << error << "\n";
            return 2;
        }
        out << "serial: " << serial_name << "\n" << std::flush;
    }

    if (!StartSockets()) {
        err << "lumidex-sim: the sockets library cannot be started\n";
        return 2;
    }
    const SOCKET udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(options.udp_port);
    address.sin_addr.s_addr = ::htonl(ParseDottedAddress(options.udp_address).value_or(0));
    // An answer to a sender that has gone must not make the next receive fail.
    BOOL report_resets = FALSE;
    DWORD ignored = 0;
    ::WSAIoctl(udp, SIO_UDP_CONNRESET, &report_resets, sizeof report_resets, nullptr, 0, &ignored,
               nullptr, nullptr);
    if (udp == INVALID_SOCKET ||
        ::bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        err << "lumidex-sim: cannot listen on " << options.udp_address << ":" << options.udp_port
            << ": " << SystemMessage(static_cast<unsigned long>(::WSAGetLastError())) << "\n";
        if (serial != INVALID_HANDLE_VALUE) {
            ::CloseHandle(serial);
        }
        return 2;
    }
    out << "udp: " << options.udp_address << ":" << options.udp_port << "\n" << std::flush;
    sockaddr_in own{};
    int own_size = sizeof own;
    ::getsockname(udp, reinterpret_cast<sockaddr*>(&own), &own_size);
    // A datagram from the card's own address and port (a forged source, or a
    // second card answering this one) is never answered: that would loop.
    auto from_self = [&](const sockaddr_in& sender) {
        return sender.sin_port == own.sin_port &&
               (own.sin_addr.s_addr == INADDR_ANY || sender.sin_addr.s_addr == own.sin_addr.s_addr);
    };

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
                    DWORD written = 0;
                    ::WriteFile(serial, reply.data(), static_cast<DWORD>(reply.size()), &written,
                                nullptr);
                });
            } else {
                report.Garbage("serial", serial_name, piece.bytes,
                               piece.kind == FrameAssembler::Piece::Truncated);
            }
        }
    };

    int status = 0;
    std::vector<std::uint8_t> datagram(65536);
    auto last_serial_byte = Clock::now();
    while (!g_stop && (!options.count || card.frames() < *options.count)) {
        WSAPOLLFD waiting{udp, POLLRDNORM, 0};
        const int ready =
            ::WSAPoll(&waiting, 1, serial != INVALID_HANDLE_VALUE ? kPollWithSerialMs : kPollMs);
        if (ready > 0 && (waiting.revents & POLLRDNORM)) {
            sockaddr_in sender{};
            int size = sizeof sender;
            const int got = ::recvfrom(udp, reinterpret_cast<char*>(datagram.data()),
                                       static_cast<int>(datagram.size()), 0,
                                       reinterpret_cast<sockaddr*>(&sender), &size);
            if (got >= 0) {
                const std::string peer = FormatDottedAddress(::ntohl(sender.sin_addr.s_addr)) +
                                         ":" + std::to_string(::ntohs(sender.sin_port));
                const auto bytes = std::span(datagram).first(static_cast<std::size_t>(got));
                if (from_self(sender)) {
                    report.Ignored("udp", peer, bytes, "from the card's own address");
                    continue;
                }
                handle("udp", peer, bytes, [&](const ReplyBlock& reply) {
                    ::sendto(udp, reinterpret_cast<const char*>(reply.data()),
                             static_cast<int>(reply.size()), 0,
                             reinterpret_cast<sockaddr*>(&sender), size);
                });
            }
        }
        if (serial == INVALID_HANDLE_VALUE) {
            continue;
        }
        std::uint8_t bytes[512];
        DWORD got = 0;
        if (!::ReadFile(serial, bytes, sizeof bytes, &got, nullptr)) {
            err << "lumidex-sim: " << serial_name << " closed\n";
            status = 2;
            break;
        }
        if (got > 0) {
            last_serial_byte = Clock::now();
            serial_pieces(assembler.Feed(std::span(bytes).first(got)));
        } else if (assembler.pending() && Clock::now() - last_serial_byte >= kSerialIdle) {
            serial_pieces(assembler.Flush());
        }
    }
    if (serial != INVALID_HANDLE_VALUE) {
        serial_pieces(assembler.Flush());
        ::CloseHandle(serial);
    }
    ::closesocket(udp);
    return status;
}

} // namespace lumidex
