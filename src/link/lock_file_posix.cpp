#include "link/lock_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace lumidex {
namespace {

constexpr std::string_view kDeviceDirectory = "/dev/";
constexpr std::size_t kLockTextLimit = 64;

std::filesystem::path& LockDirectorySetting() {
    static std::filesystem::path directory = "/var/lock";
    return directory;
}

// The lock file's text, at most a few bytes of it; empty when unreadable.
std::string ReadLockText(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char text[kLockTextLimit];
    const ssize_t got = ::read(fd, text, sizeof text);
    ::close(fd);
    return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
}

bool ProcessIsAlive(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

std::string LockFileName(std::string_view device) {
    std::string name;
    if (device.starts_with(kDeviceDirectory)) {
        name = std::string(device.substr(kDeviceDirectory.size()));
    } else {
        name = std::filesystem::path(std::string(device)).filename().string();
    }
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return "LCK.." + name;
}

std::optional<long> LockFileOwner(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
    }
    long pid = 0;
    std::size_t digits = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 10; ++pos) {
        pid = pid * 10 + (text[pos] - '0');
        ++digits;
    }
    const bool ends = pos == text.size() || text[pos] == '\n' || text[pos] == ' ';
    if (digits == 0 || !ends || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

DeviceLock::DeviceLock(std::filesystem::path directory, std::string_view device) {
    std::error_code ec;
    if (!directory.empty() && std::filesystem::is_directory(directory, ec)) {
        file_ = directory / LockFileName(device);
    }
}

DeviceLock::~DeviceLock() {
    Release();
}

bool DeviceLock::Take() {
    if (file_.empty() || held_) {
        return true;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
    // Two tries: the second after removing a stale lock.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd =
            ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
            ::close(fd);
            if (!written) {
                ::unlink(file_.c_str());
                return true; // a full disk is no reason to refuse the port
            }
            held_ = true;
            return true;
        }
        if (errno != EEXIST) {
            return true; // a directory we may not write: the convention cannot apply
        }
        const auto owner = LockFileOwner(ReadLockText(file_));
        if (owner && ProcessIsAlive(*owner)) {
            error_ = "in use by another program (process " + std::to_string(*owner) + " holds " +
                     file_.string() + ")";
            return false;
        }
        ::unlink(file_.c_str()); // stale: its process is gone
    }
    return true;
}

void DeviceLock::Release() {
    if (!held_) {
        return;
    }
    held_ = false;
    if (LockFileOwner(ReadLockText(file_)) == static_cast<long>(::getpid())) {
        ::unlink(file_.c_str());
    }
}

std::filesystem::path SerialLockDirectory() {
    return LockDirectorySetting();
}

void SetSerialLockDirectory(std::filesystem::path directory) {
    LockDirectorySetting() = std::move(directory);
}

} // namespace lumidex
