#include "link/serial_port.h"

#include "link/lock_file.h"
#include "link/raw_line_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace lumidex {
namespace {

speed_t SpeedFor(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

using Clock = std::chrono::steady_clock;

// Write time-out: 1000 ms plus 1000 ms per byte, as the port is configured.
constexpr std::chrono::milliseconds kWriteTimeoutConstant{1000};
constexpr std::chrono::milliseconds kWriteTimeoutPerByte{1000};

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
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
        // The lock file first, as the programs that honour it do, so a port
        // such a program holds is not even opened.
        lock_.emplace(SerialLockDirectory(), device_);
        if (!lock_->Take()) {
            error_ = device_ + " is " + lock_->error();
            lock_.reset();
            return false;
        }
        fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            Fail("open " + device_);
            lock_.reset();
            return false;
        }
        if (!::isatty(fd_)) {
            errno = ENOTTY;
            Fail(device_);
            CloseWithoutRelease();
            return false;
        }
        // Another program holds the port when it set exclusive mode or holds
        // the advisory lock. Exclusive mode alone does not keep root out, so
        // both are checked before a byte is written.
        int exclusive = 0;
        if (::ioctl(fd_, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
            error_ = device_ + " is in use by another program";
            CloseWithoutRelease();
            return false;
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            error_ = device_ + " is in use by another program";
            CloseWithoutRelease();
            return false;
        }
        ::ioctl(fd_, TIOCEXCL);
        // A setting the port refuses is not an error: it is used with what it has.
        ConfigureRawLine(fd_, baud_);
        ::tcflush(fd_, TCIOFLUSH);
        return true;
    }

    bool Write(std::span<const std::uint8_t> frame) override {
        ::tcflush(fd_, TCOFLUSH);
        const auto deadline = Clock::now() + kWriteTimeoutConstant +
                              kWriteTimeoutPerByte * static_cast<int>(frame.size());
        std::size_t done = 0;
        while (done < frame.size()) {
            const ssize_t written = ::write(fd_, frame.data() + done, frame.size() - done);
            if (written > 0) {
                done += static_cast<std::size_t>(written);
                continue;
            }
            if (written < 0 && errno != EAGAIN && errno != EINTR) {
                return Fail("write " + device_);
            }
            pollfd waiting{fd_, POLLOUT, 0};
            const int ready = ::poll(&waiting, 1, MillisecondsLeft(deadline));
            if (ready == 0) {
                error_ = "write to " + device_ + " timed out";
                return false;
            }
            if (ready > 0 && (waiting.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                error_ = device_ + " went away";
                return false;
            }
        }
        // Wait until the bytes have left, within the same time-out.
        while (MillisecondsLeft(deadline) > 0) {
            int pending = 0;
            if (::ioctl(fd_, TIOCOUTQ, &pending) != 0 || pending == 0) {
                break;
            }
            ::usleep(1000);
        }
        return true;
    }

    std::optional<std::size_t> Read(std::span<std::uint8_t> into,
                                    std::chrono::milliseconds timeout) override {
        const auto deadline = Clock::now() + timeout;
        std::size_t got = 0;
        while (got < into.size()) {
            const ssize_t n = ::read(fd_, into.data() + got, into.size() - got);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                Fail("read " + device_);
                return std::nullopt;
            }
            const int left = MillisecondsLeft(deadline);
            if (left == 0) {
                break;
            }
            pollfd waiting{fd_, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, left);
            // The read just before found nothing, so a hang-up now means the
            // device is gone (a pulled adapter, a closed pseudo-terminal).
            if (ready > 0 && (waiting.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                error_ = device_ + " went away";
                return std::nullopt;
            }
        }
        ::tcflush(fd_, TCIOFLUSH);
        return got;
    }

    void Close() override {
        if (fd_ >= 0) {
            // Exclusive mode stays on the device after a close; clear it so
            // the port is free for others again.
            ::ioctl(fd_, TIOCNXCL);
            CloseWithoutRelease();
        }
    }

    std::string error() const override { return error_; }

private:
    void CloseWithoutRelease() {
        ::close(fd_);
        fd_ = -1;
        lock_.reset();
    }

    bool Fail(const std::string& what) {
        error_ = what + ": " + std::strerror(errno);
        return false;
    }

    std::string device_;
    int baud_;
    int fd_ = -1;
    std::optional<DeviceLock> lock_;
    std::string error_;
};

} // namespace

// 8 data bits, no parity, one stop bit; a raw line so that no byte of a
// frame is taken as a control character (0x11 and 0x13 are digits with a
// point here, not XON and XOFF).
bool ConfigureRawLine(int fd, int baud) {
    termios line{};
    if (::tcgetattr(fd, &line) != 0) {
        return false;
    }
    const tcflag_t hardware_flow = line.c_cflag & CRTSCTS;
    ::cfmakeraw(&line);
    line.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    line.c_cflag |= CS8 | CLOCAL | CREAD | hardware_flow;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (const speed_t speed = SpeedFor(baud); speed != B0) {
        ::cfsetispeed(&line, speed);
        ::cfsetospeed(&line, speed);
    }
    return ::tcsetattr(fd, TCSANOW, &line) == 0;
}

std::unique_ptr<Link> MakeSerialPort(std::string_view device, int baud) {
    return std::make_unique<SerialPort>(device, baud);
}

} // namespace lumidex
