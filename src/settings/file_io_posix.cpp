#include "settings/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumidex {
namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Longest chain of symbolic links followed before giving up (a loop).
constexpr int kMaxLinkHops = 40;

// The path at the end of a chain of symbolic links; a relative link is taken
// from the directory of the link that holds it. The end may not exist yet (a
// dangling link names the file to create). Nothing for a loop or an unreadable
// link.
std::optional<std::filesystem::path> FollowLinks(const std::filesystem::path& file) {
    std::filesystem::path current = file;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(current, ec);
        if (ec && status.type() != std::filesystem::file_type::not_found) {
            return std::nullopt;
        }
        if (status.type() != std::filesystem::file_type::symlink) {
            return current;
        }
        const auto target = std::filesystem::read_symlink(current, ec);
        if (ec) {
            return std::nullopt;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return std::nullopt;
}

std::filesystem::path DirectoryOf(const std::filesystem::path& file) {
    const auto directory = file.parent_path();
    return directory.empty() ? std::filesystem::path(".") : directory;
}

// Temporary files are named ".<leaf>.XXXXXX", six letters or digits.
constexpr std::size_t kTempSuffixChars = 6;
constexpr std::string_view kTempSuffixAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string TempPrefix(const std::string& leaf) {
    return "." + leaf + ".";
}

bool IsOwnTempName(std::string_view name, const std::string& leaf) {
    const std::string prefix = TempPrefix(leaf);
    if (name.size() != prefix.size() + kTempSuffixChars || !name.starts_with(prefix)) {
        return false;
    }
    name.remove_prefix(prefix.size());
    return name.find_first_not_of(kTempSuffixAlphabet) == std::string_view::npos;
}

// Removes the temporary files of writers that were killed before they could
// rename or remove them. Only safe with the file's lock held: then no living
// writer has a temporary file of its own.
void RemoveStaleTempFiles(const std::filesystem::path& directory, const std::string& leaf) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code type_ec;
        if (IsOwnTempName(name, leaf) && it->is_regular_file(type_ec) && !it->is_symlink(type_ec)) {
            ::unlink(it->path().c_str());
        }
    }
}

// Creates a new temporary file beside the target with the given mode (the
// umask applies), retrying with another name when one is taken.
int CreateTempFile(const std::filesystem::path& directory, const std::string& leaf, mode_t mode,
                   std::string& name) {
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, kTempSuffixAlphabet.size() - 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp_leaf = TempPrefix(leaf);
        for (std::size_t i = 0; i < kTempSuffixChars; ++i) {
            temp_leaf += kTempSuffixAlphabet[pick(random)];
        }
        name = (directory / temp_leaf).string();
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// True when an existing file may be rewritten: some write permission bit is
// set (a file made read-only stays so, even for root) and this process may
// write it.
bool MayRewrite(const std::filesystem::path& file, const struct stat& info) {
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
           ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
}

// Gives the temporary file the owner, group and mode of the file it replaces.
// Keeping the owner needs root; without it the group is kept where allowed.
bool TakeOverOwnerAndMode(int fd, const struct stat& old_info) {
    struct stat own {};
    if (::fstat(fd, &own) != 0) {
        return false;
    }
    if (own.st_uid != old_info.st_uid || own.st_gid != old_info.st_gid) {
        if (::fchown(fd, old_info.st_uid, old_info.st_gid) != 0) {
            (void)::fchown(fd, static_cast<uid_t>(-1), old_info.st_gid);
        }
    }
    // After fchown, which clears set-id bits.
    return ::fchmod(fd, old_info.st_mode & 07777) == 0;
}

bool LockExclusively(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<std::uintmax_t>(info.st_size) > kMaxSettingsFileBytes) {
        return std::nullopt;
    }
    // One byte more than the size, to see a file that grew since fstat.
    std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() > kMaxSettingsFileBytes) {
                return std::nullopt;
            }
            bytes.resize(std::min(bytes.size() * 2, kMaxSettingsFileBytes + 1));
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

bool RunWithFileLock(const std::filesystem::path& file, const std::function<bool()>& work) {
    // The lock is taken on the file itself. A writer replaces the file by a
    // rename, so a waiter may wake up holding the lock of a file that is no
    // longer there; it then starts over on the file that took its place.
    constexpr int kMaxAttempts = 1000;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const auto target = FollowLinks(file);
        if (!target) {
            return false;
        }
        // Creating a missing file here gives it the umask's mode; the rewrite
        // then keeps that mode.
        Descriptor fd(::open(target->c_str(),
                             O_RDONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.get() < 0) {
            if (errno == ELOOP) {
                continue; // a link appeared meanwhile
            }
            return false;
        }
        struct stat held {};
        if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) || !LockExclusively(fd.get())) {
            return false;
        }
        struct stat now {};
        if (::stat(target->c_str(), &now) == 0 && now.st_dev == held.st_dev &&
            now.st_ino == held.st_ino) {
            return work();
        }
    }
    return false;
}

bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes) {
    const auto target = FollowLinks(file);
    if (!target) {
        return false;
    }
    const std::filesystem::path directory = DirectoryOf(*target);
    const std::string leaf = target->filename().string();
    RemoveStaleTempFiles(directory, leaf);

    struct stat old_info {};
    const bool exists = ::stat(target->c_str(), &old_info) == 0;
    if (!exists && errno != ENOENT) {
        return false;
    }
    if (exists && (!S_ISREG(old_info.st_mode) || !MayRewrite(*target, old_info))) {
        return false;
    }
    std::string temp_name;
    Descriptor fd(CreateTempFile(directory, leaf, exists ? 0600 : 0666, temp_name));
    if (fd.get() < 0) {
        return false;
    }
    const bool written = (!exists || TakeOverOwnerAndMode(fd.get(), old_info)) &&
                         WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0 && fd.Close();
    if (!written || ::rename(temp_name.c_str(), target->c_str()) != 0) {
        ::unlink(temp_name.c_str());
        return false;
    }
    // The rename itself must reach the disk too, or a crash could bring the
    // old directory entry back.
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
    return true;
}

std::filesystem::path ExecutableDirectory() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

bool DirectoryIsWritable(const std::filesystem::path& directory) {
    std::string probe = (directory / ".lumidex-probe.XXXXXX").string();
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

} // namespace lumidex
