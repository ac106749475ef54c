#include "link/lock_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumidex {
namespace {

constexpr std::string_view kDeviceDirectory = "/dev/";
constexpr std::size_t kLockTextLimit = 64;

std::filesystem::path& LockDirectorySetting() {
    static std::filesystem::path directory = "/var/lock";
    return directory;
}

// What an existing lock file holds: its first bytes and which file they
// came from; nothing when it cannot be opened as a regular file or read.
struct LockText {
    std::string text;
    struct stat info {};
};

std::optional<LockText> ReadLockText(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    LockText lock;
    char text[kLockTextLimit];
    const bool regular = ::fstat(fd, &lock.info) == 0 && S_ISREG(lock.info.st_mode);
    const ssize_t got = regular ? ::read(fd, text, sizeof text) : -1;
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    lock.text.assign(text, static_cast<std::size_t>(got));
    return lock;
}

// Printable ASCII, or a blank or line break: what a text lock holds. A
// binary id always holds a byte outside it (its top byte is 0).
bool IsTextByte(char c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n';
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
    // Old UUCP programs store the id as a 4-byte binary number.
    if (text.size() == sizeof(std::int32_t) && !std::all_of(text.begin(), text.end(), IsTextByte)) {
        std::int32_t binary = 0;
        std::memcpy(&binary, text.data(), sizeof binary);
        return binary > 0 ? std::optional<long>(binary) : std::nullopt;
    }
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n')) {
        ++pos;
    }
    long pid = 0;
    std::size_t digits = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        if (++digits > 10) {
            return std::nullopt; // no process id is that long
        }
        pid = pid * 10 + (text[pos] - '0');
    }
    if (digits == 0 || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) {
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
    // The lock appears whole or not at all: our id goes into a file of our
    // own, which is then linked under the lock's name.
    std::string temp = (file_.parent_path() / "LTMP.XXXXXX").string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return true; // a directory we may not write: the convention cannot apply
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
    const bool written = ::fchmod(fd, 0644) == 0 &&
                         ::write(fd, text, static_cast<std::size_t>(length)) == length;
    ::close(fd);
    struct RemoveTemp {
        const std::string& name;
        ~RemoveTemp() { ::unlink(name.c_str()); }
    } remove_temp{temp};
    if (!written) {
        return true; // a full disk is no reason to refuse the port
    }
    // Two tries: the second after removing a stale lock.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::link(temp.c_str(), file_.c_str()) == 0) {
            held_ = true;
            return true;
        }
        if (errno != EEXIST) {
            return true; // no hard links here: the convention cannot apply
        }
        const auto lock = ReadLockText(file_);
        if (!lock) {
            if (errno == ENOENT) {
                continue; // its holder removed it meanwhile
            }
            error_ = "in use by another program (" + file_.string() +
                     " cannot be read; remove it if no program uses the port)";
            return false;
        }
        const auto owner = LockFileOwner(lock->text);
        if (!owner) {
            error_ = "in use by another program (" + file_.string() +
                     " names no process; remove it if no program uses the port)";
            return false;
        }
        if (ProcessIsAlive(*owner)) {
            error_ = "in use by another program (process " + std::to_string(*owner) + " holds " +
                     file_.string() + ")";
            return false;
        }
        // Stale: its process is gone. Removed only if it is still the file
        // that was read, not one a new holder has just put in its place.
        struct stat now {};
        if (::lstat(file_.c_str(), &now) == 0 && now.st_dev == lock->info.st_dev &&
            now.st_ino == lock->info.st_ino) {
            ::unlink(file_.c_str());
        }
    }
    error_ = "in use by another program (" + file_.string() + " keeps coming back)";
    return false;
}

void DeviceLock::Release() {
    if (!held_) {
        return;
    }
    held_ = false;
    const auto lock = ReadLockText(file_);
    if (lock && LockFileOwner(lock->text) == static_cast<long>(::getpid())) {
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
