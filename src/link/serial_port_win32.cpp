#include "link/serial_port.h"

#include "link/system_error_win32.h"

#include <windows.h>

namespace lumidex {
namespace {

// Queue sizes and time-outs applied at every opening.
constexpr DWORD kQueueBytes = 256;
constexpr DWORD kWriteTimeoutPerByteMs = 1000;
constexpr DWORD kWriteTimeoutConstantMs = 1000;
// Discards everything: pending reads and writes and both queues.
constexpr DWORD kPurgeEverything = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// A COM name as a device path. COM1..COM9 open either way, COM10 and up only
// under the device namespace, so the prefix is added to a bare name.
std::wstring DevicePath(const std::string& name) {
    const std::wstring wide = WideFromUtf8(name);
    return wide.starts_with(L"\\\\") ? wide : L"\\\\.\\" + wide;
}

// The serial time-out record: a read waits for the whole answer up to its
// total time-out (no interval time-out), a write gets 1000 ms plus 1000 ms
// per byte.
COMMTIMEOUTS TimeoutsFor(std::chrono::milliseconds read_timeout) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(read_timeout.count());
    timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutConstantMs;
    return timeouts;
}

class SerialPort final : public Link {
public:
    SerialPort(std::string_view device, int baud) : device_(device), baud_(baud) {}
    ~SerialPort() override { Close(); }

    bool Open() override {
        Close();
        if (device_.empty()) {
            error_ = "no serial port chosen";
            return false;
        }
        // No sharing: a port another program holds fails to open at once.
        handle_ = ::CreateFileW(DevicePath(device_).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            error_ = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION
                         ? device_ + " is in use by another program"
                         : "open " + device_ + ": " + SystemMessage(code);
            return false;
        }
        // A setting the port refuses is not an error: it is used with what it has.
        ::SetupComm(handle_, kQueueBytes, kQueueBytes);
        COMMTIMEOUTS timeouts = TimeoutsFor(kSerialReadTimeout);
        ::SetCommTimeouts(handle_, &timeouts);
        read_timeout_ = kSerialReadTimeout;
        DCB line{};
        line.DCBlength = sizeof line;
        if (::GetCommState(handle_, &line)) {
            line.BaudRate = static_cast<DWORD>(baud_);
            line.ByteSize = 8;
            line.Parity = NOPARITY;
            line.StopBits = ONESTOPBIT;
            ::SetCommState(handle_, &line);
        }
        ::PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
        return true;
    }

    bool Write(std::span<const std::uint8_t> frame) override {
        ::PurgeComm(handle_, PURGE_TXCLEAR);
        DWORD errors = 0;
        COMSTAT status{};
        ::ClearCommError(handle_, &errors, &status);
        DWORD written = 0;
        if (!::WriteFile(handle_, frame.data(), static_cast<DWORD>(frame.size()), &written,
                         nullptr)) {
            return Fail("write " + device_);
        }
        return true;
    }

    std::optional<std::size_t> Read(std::span<std::uint8_t> into,
                                    std::chrono::milliseconds timeout) override {
        if (timeout != read_timeout_) {
            COMMTIMEOUTS timeouts = TimeoutsFor(timeout);
            ::SetCommTimeouts(handle_, &timeouts);
            read_timeout_ = timeout;
        }
        DWORD got = 0;
        if (!::ReadFile(handle_, into.data(), static_cast<DWORD>(into.size()), &got, nullptr)) {
            Fail("read " + device_);
            return std::nullopt;
        }
        ::PurgeComm(handle_, kPurgeEverything);
        return got;
    }

    void Close() override {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

    std::string error() const override { return error_; }

private:
    bool Fail(const std::string& what) {
        error_ = what + ": " + SystemMessage(::GetLastError());
        return false;
    }

    std::string device_;
    int baud_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::chrono::milliseconds read_timeout_{0};
    std::string error_;
};

} // namespace

std::unique_ptr<Link> MakeSerialPort(std::string_view device, int baud) {
    return std::make_unique<SerialPort>(device, baud);
}

} // namespace lumidex
