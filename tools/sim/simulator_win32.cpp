// The card's links on Windows: a UDP socket waited for with WSAPoll, a COM
// port read without waiting in between, and Ctrl+C or a console close to
// stop.
#include "link/address.h"
#include "link/system_error_win32.h"
#include "link/udp_link.h"
#include "tools/sim/card_links.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h, which it needs
#include <mswsock.h>

#include <array>
#include <atomic>
#include <memory>

namespace lumidex {
namespace {

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

class Win32CardLinks final : public CardLinks {
public:
    Win32CardLinks() {
        g_stop = false;
        ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    }
    ~Win32CardLinks() override {
        ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
        if (serial_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(serial_);
        }
        if (udp_ != INVALID_SOCKET) {
            ::closesocket(udp_);
        }
    }

    std::optional<std::string> OpenSerial(const SimOptions& options, std::string& name) override {
        if (options.pty) {
            return "--pty needs a POSIX system; give a COM port with --serial";
        }
        if (options.serial) {
            name = *options.serial;
            std::string error;
            serial_ = OpenComPort(name, options.baud, error);
            if (serial_ == INVALID_HANDLE_VALUE) {
                return "cannot open " + name + ": " + error;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> OpenUdp(const SimOptions& options, UdpEndpoint& own) override {
        if (!StartSockets()) {
            return "the sockets library cannot be started";
        }
        udp_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = ::htons(options.udp_port);
        address.sin_addr.s_addr = ::htonl(ParseDottedAddress(options.udp_address).value_or(0));
        // An answer to a sender that has gone must not make the next receive fail.
        BOOL report_resets = FALSE;
        DWORD ignored = 0;
        ::WSAIoctl(udp_, SIO_UDP_CONNRESET, &report_resets, sizeof report_resets, nullptr, 0,
                   &ignored, nullptr, nullptr);
        if (udp_ == INVALID_SOCKET ||
            ::bind(udp_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return SystemMessage(static_cast<unsigned long>(::WSAGetLastError()));
        }
        int size = sizeof address;
        ::getsockname(udp_, reinterpret_cast<sockaddr*>(&address), &size);
        own = {::ntohl(address.sin_addr.s_addr), ::ntohs(address.sin_port)};
        return std::nullopt;
    }

    // A COM port cannot be waited on together with a socket, so the wait
    // takes turns: a short wait for a datagram, then a look at the port.
    CardInput Wait(std::optional<Clock::time_point> until) override {
        CardInput input;
        for (;;) {
            if (g_stop) {
                input.stop = true;
                return input;
            }
            WSAPOLLFD waiting{udp_, POLLRDNORM, 0};
            const int ready = ::WSAPoll(
                &waiting, 1, serial_ != INVALID_HANDLE_VALUE ? kPollWithSerialMs : kPollMs);
            if (ready > 0 && (waiting.revents & POLLRDNORM)) {
                sockaddr_in sender{};
                int size = sizeof sender;
                const int got = ::recvfrom(udp_, reinterpret_cast<char*>(datagram_.data()),
                                           static_cast<int>(datagram_.size()), 0,
                                           reinterpret_cast<sockaddr*>(&sender), &size);
                if (got >= 0) {
                    input.sender = {::ntohl(sender.sin_addr.s_addr), ::ntohs(sender.sin_port)};
                    input.datagram = std::span(datagram_).first(static_cast<std::size_t>(got));
                }
            }
            if (serial_ != INVALID_HANDLE_VALUE) {
                DWORD got = 0;
                if (!::ReadFile(serial_, serial_bytes_.data(),
                                static_cast<DWORD>(serial_bytes_.size()), &got, nullptr)) {
                    input.serial_closed = true;
                } else {
                    input.serial = std::span(serial_bytes_).first(got);
                }
            }
            if (input.sender || input.serial_closed || !input.serial.empty() ||
                (until && Clock::now() >= *until)) {
                return input;
            }
        }
    }

    void AnswerDatagram(const UdpEndpoint& to, const ReplyBlock& reply) override {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(to.address);
        address.sin_port = ::htons(to.port);
        ::sendto(udp_, reinterpret_cast<const char*>(reply.data()), static_cast<int>(reply.size()),
                 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }

    void AnswerSerial(const ReplyBlock& reply) override {
        DWORD written = 0;
        ::WriteFile(serial_, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
    }

    // WriteFile has handed the answer to the port by the time it returns.
    void LetAnswerArrive() override {}

private:
    HANDLE serial_ = INVALID_HANDLE_VALUE;
    SOCKET udp_ = INVALID_SOCKET;
    std::array<std::uint8_t, 65536> datagram_{};
    std::array<std::uint8_t, 512> serial_bytes_{};
};

} // namespace

std::unique_ptr<CardLinks> CardLinks::Create(std::string&) {
    return std::make_unique<Win32CardLinks>();
}

} // namespace lumidex
