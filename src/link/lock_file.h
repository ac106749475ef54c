#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// The classic lock file of a serial device that programs such as minicom
// honour: "LCK.." followed by the device's name below /dev, each '/' written
// as '_' ("/dev/ttyUSB0" -> "LCK..ttyUSB0", "/dev/pts/3" -> "LCK..pts_3"); a
// device outside /dev uses its base name.
std::string LockFileName(std::string_view device);

// The process id a lock file's text names: the decimal number it holds after
// optional blanks ("      4711\n"); nothing when it holds no number above 0.
std::optional<long> LockFileOwner(std::string_view text);

// A lock file taken for one exchange. Take() creates it holding our process
// id, removing a stale one (its process is gone, or it names none) first.
// It refuses when a live process holds it. When the lock directory does not
// exist, or cannot be written, there is nothing to take and the port is used
// as it would be without the convention. The file is removed when the object
// goes away, and only when it still names this process.
class DeviceLock {
public:
    DeviceLock(std::filesystem::path directory, std::string_view device);
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    ~DeviceLock();

    // False when another live process holds the lock; error() then says which.
    bool Take();
    void Release();
    const std::string& error() const { return error_; }

private:
    std::filesystem::path file_;
    bool held_ = false;
    std::string error_;
};

// Where the lock files live: /var/lock unless a test chose another
// directory. An empty path turns the lock files off.
std::filesystem::path SerialLockDirectory();
void SetSerialLockDirectory(std::filesystem::path directory);

} // namespace lumidex
