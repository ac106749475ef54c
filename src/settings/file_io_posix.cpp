#include "settings/file_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
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

std::filesystem::path ResolveLink(const std::filesystem::path& file) {
    std::error_code ec;
    if (std::filesystem::is_symlink(file, ec)) {
        auto target = std::filesystem::read_symlink(file, ec);
        if (!ec) {
            return target.is_absolute() ? target : file.parent_path() / target;
        }
    }
    return file;
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 4096);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            bytes.resize(bytes.size() * 2);
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

bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes) {
    const std::filesystem::path target = ResolveLink(file);
    std::filesystem::path directory = target.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    std::string temp_leaf = target.filename().string();
    temp_leaf.insert(0, 1, '.');
    temp_leaf += ".XXXXXX";
    std::string temp_name = (directory / temp_leaf).string();
    Descriptor fd(::mkostemp(temp_name.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    struct stat old_info {};
    const mode_t mode =
        ::stat(target.c_str(), &old_info) == 0 ? (old_info.st_mode & 07777) : NewFileMode();
    const bool written = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), bytes) &&
                         ::fsync(fd.get()) == 0 && fd.Close();
    if (!written || ::rename(temp_name.c_str(), target.c_str()) != 0) {
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
