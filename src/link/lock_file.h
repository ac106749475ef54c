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

// The process id a lock file's contents name, read as minicom, cu and
// lockdev read them: a 4-byte file with a byte that is not printable text
// (a binary id's top byte is 0) holds the id as a binary number in this
// machine's byte order; any other holds leading blanks, then the decimal id,
// and whatever follows it (a name, a line break) does not matter. Nothing
// when it names no id above 0 (empty, garbage, a negative number): such a
// lock counts as held.
std::optional<long> LockFileOwner(std::string_view text);

// A lock file taken for one exchange. Take() creates it holding our process
// id (written to a file of our own first and then linked under the lock's
// name, so no one ever reads a half-written lock), and removes a stale one
// first: one whose process is gone, and only while it is still the file that
// was read. It refuses when a live process holds the lock, or when the lock
// cannot be read or names no process; the reason then names the lock file,
// so an operator can remove one that is truly stale. When the lock directory
// does not exist, or cannot be written, there is nothing to take and the
// port is used as it would be without the convention. The file is removed
// when the object goes away, and only when it still names this process.
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
