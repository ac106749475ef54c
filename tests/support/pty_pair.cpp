#include "tests/support/pty_pair.h"

#include "link/raw_line_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace lumidex::test {

PtyPair::PtyPair() {
    controller_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (controller_ < 0 || ::grantpt(controller_) != 0 || ::unlockpt(controller_) != 0) {
        return;
    }
    device_ = ::ptsname(controller_);
    keeper_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ConfigureRawLine(keeper_, 9600);
}

PtyPair::~PtyPair() {
    for (int fd : {keeper_, controller_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

PtyPair::Bytes PtyPair::ReadFrame(std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> bytes;
    int wait = static_cast<int>(timeout.count());
    for (;;) {
        pollfd waiting{controller_, POLLIN, 0};
        if (::poll(&waiting, 1, wait) <= 0 || !(waiting.revents & POLLIN)) {
            return bytes;
        }
        std::uint8_t chunk[512];
        const ssize_t got = ::read(controller_, chunk, sizeof chunk);
        if (got <= 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
        wait = 50;
    }
}

void PtyPair::Write(const Bytes& bytes) {
    [[maybe_unused]] auto ignored = ::write(controller_, bytes.data(), bytes.size());
}

void PtyPair::Hangup() {
    for (int* fd : {&keeper_, &controller_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

} // namespace lumidex::test
