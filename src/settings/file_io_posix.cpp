#include "settings/file_io.h"
#include "settings/file_owner_posix.h"

#include "settings/trust_rule.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lumidex {
namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset(other.fd_);
            other.fd_ = -1;
        }
        return *this;
    }
    ~Descriptor() { Reset(-1); }
    int get() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    void Reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
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

// Reads an open regular file from its start; nothing when a read fails or
// it holds more than kMaxSettingsFileBytes.
std::optional<std::string> ReadAllFrom(int fd, const struct stat& info, std::string* why) {
    if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > kMaxSettingsFileBytes) {
        if (why) {
            *why = "bigger than " + std::to_string(kMaxSettingsFileBytes) + " bytes";
        }
        return std::nullopt;
    }
    // One byte more than the size, to see a file that grew since fstat.
    std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() > kMaxSettingsFileBytes) {
                if (why) {
                    *why = "bigger than " + std::to_string(kMaxSettingsFileBytes) + " bytes";
                }
                return std::nullopt;
            }
            bytes.resize(std::min(bytes.size() * 2, kMaxSettingsFileBytes + 1));
        }
        const ssize_t got = ::pread(fd, bytes.data() + filled, bytes.size() - filled,
                                    static_cast<off_t>(filled));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (why) {
                *why = std::strerror(errno);
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

// Longest chain of symbolic links followed before giving up (a loop).
constexpr int kMaxLinkHops = 40;

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when the group is the running user's private one: named as the user,
// with no other member. Such a group's write permission lets no one else in.
bool IsPrivateGroup(gid_t gid) {
    if (gid != ::getegid()) {
        return false;
    }
    std::vector<char> buffer(16384);
    passwd user{};
    passwd* found_user = nullptr;
    group grp{};
    group* found_group = nullptr;
    if (::getpwuid_r(::geteuid(), &user, buffer.data(), buffer.size() / 2, &found_user) != 0 ||
        found_user == nullptr ||
        ::getgrgid_r(gid, &grp, buffer.data() + buffer.size() / 2, buffer.size() / 2,
                     &found_group) != 0 ||
        found_group == nullptr || std::strcmp(grp.gr_name, user.pw_name) != 0) {
        return false;
    }
    for (char** member = grp.gr_mem; *member != nullptr; ++member) {
        if (std::strcmp(*member, user.pw_name) != 0) {
            return false;
        }
    }
    return true;
}

bool OwnedByUserOrRoot(const struct stat& info) {
    return info.st_uid == ::geteuid() || info.st_uid == 0;
}

// Why another user could change a level of `path`, from the root down (a
// link as a link, not what it leads to); nothing when none could, and for a
// level that cannot be looked at.
std::optional<std::string> OthersCouldChangeALevel(const std::filesystem::path& path) {
    std::filesystem::path level;
    for (const auto& part : path) {
        level /= part;
        struct stat info {};
        if (::lstat(level.c_str(), &info) != 0) {
            return std::nullopt;
        }
        const bool last = level == path;
        const std::string shown = std::string(S_ISLNK(info.st_mode) ? "the link "
                                              : last                 ? ""
                                                                     : "the folder ") +
                                  level.string();
        if (auto why = OthersCouldChange(info, shown)) {
            return why;
        }
    }
    return std::nullopt;
}

using Concern = TrustConcern;

// A settings file as found: the folder that holds it, opened once, and its
// name there, with links followed where the rule allows.
struct Resolved : Concerns {
    Descriptor folder;       // -1 when the folder does not exist
    std::filesystem::path shown;
    std::string leaf;
    bool exists = false;     // a regular file of that name is there
    struct stat info {};     // of that file, when it exists
};

// Root must not act on what another user could have put there.
SettingsAccess AccessFor(Concern concern) {
    return lumidex::AccessFor(concern, ::geteuid() == 0);
}

std::filesystem::path DirectoryOf(const std::filesystem::path& file) {
    const auto directory = file.parent_path();
    return directory.empty() ? std::filesystem::path(".") : directory;
}

// Opens the folder itself, not a link in its place; a folder reached
// through a link is used when the link belongs to the user or root and sits
// in a folder no other user can change.
Descriptor OpenFolder(const std::filesystem::path& folder, Resolved& found) {
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    Descriptor fd(::open(folder.c_str(), kFlags | O_NOFOLLOW));
    if (fd.get() < 0 && (errno == ELOOP || errno == ENOTDIR)) {
        struct stat link {};
        if (::lstat(folder.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            return fd;
        }
        if (auto why = OthersCouldChange(link, "the link " + folder.string())) {
            found.Note(Concern::OtherUsers, *why);
        }
        const std::filesystem::path holder = DirectoryOf(folder);
        struct stat outer {};
        if (::stat(holder.c_str(), &outer) == 0) {
            if (auto why = OthersCouldChange(outer, "the folder " + holder.string())) {
                found.Note(Concern::OtherUsers, *why + " (it holds the link " + folder.string() +
                                                    ")");
            }
        }
        fd = Descriptor(::open(folder.c_str(), kFlags));
    }
    if (fd.get() < 0) {
        return fd;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        found.Note(Concern::NotRegular, "the folder " + folder.string() + " cannot be examined");
    } else if (auto why = OthersCouldChange(info, "the folder " + folder.string())) {
        found.Note(Concern::OtherUsers, *why);
    }
    return fd;
}

// Finds the settings file, following a chain of links named like it. Each
// link must belong to the user or root; the file at its end is judged in
// its own folder.
Resolved Resolve(const std::filesystem::path& file) {
    Resolved found;
    std::filesystem::path current = file;
    bool through_link = false;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        found.shown = current;
        found.leaf = current.filename().string();
        found.exists = false;
        if (found.leaf.empty() || found.leaf == "." || found.leaf == "..") {
            found.Note(Concern::NotRegular, current.string() + " names no file");
            return found;
        }
        found.folder = OpenFolder(DirectoryOf(current), found);
        if (found.folder.get() < 0) {
            if (through_link) {
                found.Note(Concern::CreateThroughLink,
                           file.string() + " is a link to " + current.string() +
                               ", whose folder does not exist");
            }
            return found;
        }
        struct stat info {};
        if (::fstatat(found.folder.get(), found.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                found.Note(Concern::NotRegular,
                           current.string() + " cannot be examined: " + std::strerror(errno));
            } else if (through_link) {
                found.Note(Concern::CreateThroughLink,
                           file.string() + " is a link to " + current.string() +
                               ", which does not exist; no file is created through a link");
            }
            return found;
        }
        if (S_ISREG(info.st_mode)) {
            found.exists = true;
            found.info = info;
            if (auto why = OthersCouldChange(info, current.string())) {
                found.Note(Concern::OtherUsers, *why);
            }
            return found;
        }
        if (!S_ISLNK(info.st_mode)) {
            found.Note(Concern::NotRegular, current.string() + " is not a regular file");
            return found;
        }
        if (auto why = OthersCouldChange(info, "the link " + current.string())) {
            found.Note(Concern::OtherUsers, *why);
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length =
            ::readlinkat(found.folder.get(), found.leaf.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
            found.Note(Concern::NotRegular, "the link " + current.string() + " cannot be read");
            return found;
        }
        target.resize(static_cast<std::size_t>(length));
        const std::filesystem::path next(target);
        current = next.is_absolute() ? next : DirectoryOf(current) / next;
        through_link = true;
    }
    found.Note(Concern::NotRegular, file.string() + " is a loop of links");
    found.folder = Descriptor();
    found.exists = false;
    return found;
}

// True when an existing file may be rewritten: some write permission bit is
// set (a file made read-only stays so, even for root) and this process may
// write it.
bool MayRewrite(const Resolved& found, const struct stat& info) {
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
           ::faccessat(found.folder.get(), found.leaf.c_str(), W_OK, AT_EACCESS) == 0;
}

bool FolderIsWritable(const Resolved& found) {
    return ::faccessat(found.folder.get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
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

// Removes the temporary files of writers of this user that were killed
// before they could rename or remove them. Only safe with the file's lock
// held: then no living writer has a temporary file of its own.
void RemoveStaleTempFiles(const Resolved& found) {
    const int listing_fd = ::openat(found.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing_fd < 0) {
        return;
    }
    DIR* listing = ::fdopendir(listing_fd);
    if (listing == nullptr) {
        ::close(listing_fd);
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(listing)) {
        struct stat info {};
        if (IsOwnTempName(entry->d_name, found.leaf) &&
            ::fstatat(found.folder.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
            stale.emplace_back(entry->d_name);
        }
    }
    ::closedir(listing);
    for (const std::string& name : stale) {
        ::unlinkat(found.folder.get(), name.c_str(), 0);
    }
}

// Creates a new temporary file beside the target with the given mode (the
// umask applies), retrying with another name when one is taken.
Descriptor CreateTempFile(const Resolved& found, mode_t mode, std::string& name) {
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, kTempSuffixAlphabet.size() - 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = TempPrefix(found.leaf);
        for (std::size_t i = 0; i < kTempSuffixChars; ++i) {
            name += kTempSuffixAlphabet[pick(random)];
        }
        Descriptor fd(::openat(found.folder.get(), name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                               mode));
        if (fd.get() >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return Descriptor();
}

// Gives the temporary file the owner, group and mode of the file it replaces.
// Keeping the owner needs root; without it the group is kept where allowed.
bool TakeOverOwnerAndMode(int fd, const struct stat& old_info, bool secret) {
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
    // A secret stays closed to everyone but its owner, whatever it was.
    return ::fchmod(fd, old_info.st_mode & (secret ? 0700 : 07777)) == 0;
}

// The mode a new settings file is created with, before the umask: writable
// by the group only when that group is the user's own, so the program never
// makes a file it would then have to distrust.
mode_t NewFileMode() {
    return IsPrivateGroup(::getegid()) ? 0666 : 0644;
}

std::string LockName(const std::string& leaf) {
    return "." + leaf + ".lock";
}

// Opens the lock file beside the settings file, creating it for the running
// user alone (mode 0600): no other user can open it, so no other user can
// hold the lock. One that another user owns, that is no regular file or has
// other names (a hard link) is not used; one of ours that others may open
// (left by an older copy) is closed to them first.
Descriptor OpenLockFile(const Resolved& found) {
    Descriptor fd(::openat(found.folder.get(), LockName(found.leaf).c_str(),
                           O_RDONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                           0600));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid() || info.st_nlink != 1 ||
        ((info.st_mode & 077) != 0 && ::fchmod(fd.get(), 0600) != 0)) {
        return Descriptor();
    }
    return fd;
}

struct HeldLock {
    Descriptor fd{-1};
    WriteOutcome outcome = WriteOutcome::Failed;
};

// Takes the settings file's lock, trying again every millisecond while
// another process holds it, for at most `wait`. A lock file removed and
// made anew meanwhile is opened again, so the lock held is always the one
// the name leads to.
HeldLock LockInFolder(const Resolved& found, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const std::string name = LockName(found.leaf);
    Descriptor fd = OpenLockFile(found);
    for (;;) {
        if (fd.get() < 0) {
            return {};
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            struct stat held {};
            struct stat now {};
            if (::fstat(fd.get(), &held) == 0 &&
                ::fstatat(found.folder.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                SameFile(held, now)) {
                return {std::move(fd), WriteOutcome::Written};
            }
            fd = OpenLockFile(found);
            continue;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return {Descriptor(), WriteOutcome::Locked};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Writes the bytes to a temporary file in the same folder and renames it
// over the file; the old file stays whole when any step fails.
bool ReplaceInFolder(const Resolved& found, std::string_view bytes, bool secret = false) {
    RemoveStaleTempFiles(found);
    struct stat old_info {};
    const bool exists =
        ::fstatat(found.folder.get(), found.leaf.c_str(), &old_info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        return false;
    }
    if (exists && (!S_ISREG(old_info.st_mode) || !MayRewrite(found, old_info) ||
                   OthersCouldChange(old_info, found.shown.string()))) {
        return false;
    }
    std::string temp_name;
    Descriptor fd(CreateTempFile(found, exists || secret ? 0600 : NewFileMode(), temp_name));
    if (fd.get() < 0) {
        return false;
    }
    const bool written = (!exists || TakeOverOwnerAndMode(fd.get(), old_info, secret)) &&
                         WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0 && fd.Close();
    if (!written ||
        ::renameat(found.folder.get(), temp_name.c_str(), found.folder.get(),
                   found.leaf.c_str()) != 0) {
        ::unlinkat(found.folder.get(), temp_name.c_str(), 0);
        return false;
    }
    // The rename itself must reach the disk too, or a crash could bring the
    // old directory entry back.
    ::fsync(found.folder.get());
    return true;
}

// The file's bytes as a writer holding its lock finds them: empty when it
// does not exist, nothing when it is there but cannot be read.
std::optional<std::string> ReadUnderLock(const Resolved& found) {
    Descriptor fd(::openat(found.folder.get(), found.leaf.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return ReadAllFrom(fd.get(), info, nullptr);
}

// A file that may be written: found, its folder open, nothing against it
// and, when it exists, not read-only (so no lock file is made beside it).
bool MayWrite(const Resolved& found) {
    return found.folder.get() >= 0 && AccessFor(found.concern) == SettingsAccess::ReadWrite &&
           (!found.exists || MayRewrite(found, found.info));
}

} // namespace

// Why a user other than the running one or root could change this file,
// folder or link; nothing when none could.
std::optional<std::string> OthersCouldChange(const struct stat& info, const std::string& shown) {
    if (!OwnedByUserOrRoot(info)) {
        return shown + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
    }
    if (S_ISLNK(info.st_mode)) {
        return std::nullopt; // a link's own mode means nothing
    }
    // Others may add names to a sticky folder but not rename or remove ours.
    if (S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0) {
        return std::nullopt;
    }
    if ((info.st_mode & S_IWOTH) != 0) {
        return shown + " can be written by every user";
    }
    if ((info.st_mode & S_IWGRP) != 0 && !IsPrivateGroup(info.st_gid)) {
        return shown + " can be written by its group";
    }
    return std::nullopt;
}


SettingsFileCheck CheckSettingsFile(const std::filesystem::path& file) {
    const Resolved found = Resolve(file);
    const SettingsAccess access = AccessFor(found.concern);
    if (access != SettingsAccess::ReadWrite) {
        return {access, found.reason};
    }
    if (found.folder.get() < 0) {
        return {}; // nothing there yet; whoever makes the folder makes the file
    }
    if (found.exists && !MayRewrite(found, found.info)) {
        return {SettingsAccess::ReadOnly, found.shown.string() + " is read-only"};
    }
    if (!FolderIsWritable(found)) {
        return {SettingsAccess::ReadOnly,
                "the folder " + DirectoryOf(found.shown).string() + " cannot be written"};
    }
    return {};
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file, std::string* why) {
    const Resolved found = Resolve(file);
    if (AccessFor(found.concern) == SettingsAccess::NotTrusted) {
        if (why) {
            *why = found.reason;
        }
        return std::nullopt;
    }
    if (found.folder.get() < 0 || !found.exists) {
        if (why) {
            *why = std::strerror(ENOENT);
        }
        return std::nullopt;
    }
    // Its kind was seen before the opening, so a device, a FIFO or a link is
    // never opened; O_NONBLOCK and O_NOCTTY for one swapped in meanwhile.
    Descriptor fd(::openat(found.folder.get(), found.leaf.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (why) {
            *why = std::strerror(errno);
        }
        return std::nullopt;
    }
    // A writer may have renamed a new file into place meanwhile; what was
    // opened is judged again.
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (why) {
            *why = "it changed into something else while it was opened";
        }
        return std::nullopt;
    }
    if (!SameFile(info, found.info)) {
        if (auto concern = OthersCouldChange(info, found.shown.string());
            concern && AccessFor(Concern::OtherUsers) == SettingsAccess::NotTrusted) {
            if (why) {
                *why = *concern;
            }
            return std::nullopt;
        }
    }
    return ReadAllFrom(fd.get(), info, why);
}

WriteOutcome RewriteFile(const std::filesystem::path& file,
                         const std::function<std::optional<std::string>(std::string_view)>& edit,
                         std::chrono::milliseconds lock_wait) {
    const Resolved found = Resolve(file);
    if (!MayWrite(found)) {
        return WriteOutcome::Failed;
    }
    const HeldLock lock = LockInFolder(found, lock_wait);
    if (lock.outcome != WriteOutcome::Written) {
        return lock.outcome;
    }
    // With the lock held no other writer can replace the file: what is read
    // now is what the edit starts from.
    const auto current = ReadUnderLock(found);
    if (!current) {
        return WriteOutcome::Failed; // there but unreadable: rewriting it would lose its keys
    }
    const auto updated = edit(*current);
    return updated && ReplaceInFolder(found, *updated) ? WriteOutcome::Written
                                                       : WriteOutcome::Failed;
}

bool RunWithFileLock(const std::filesystem::path& file, const std::function<bool()>& work) {
    const Resolved found = Resolve(file);
    return MayWrite(found) &&
           LockInFolder(found, kSettingsLockWait).outcome == WriteOutcome::Written && work();
}

std::filesystem::path SettingsLockFile(const std::filesystem::path& file) {
    const Resolved found = Resolve(file);
    return DirectoryOf(found.shown) / LockName(found.leaf);
}

std::optional<std::string> WhyUntrusted(const std::filesystem::path& file, FileUse use) {
    std::error_code error;
    const std::filesystem::path given = std::filesystem::absolute(file, error).lexically_normal();
    const std::filesystem::path target = std::filesystem::canonical(file, error);
    if (error) {
        return std::nullopt; // the reader says why it cannot be read
    }
    // Every level from the root down: the links on the way as given, then
    // the folders and the file they lead to.
    for (const auto& path : {given, target}) {
        if (auto why = OthersCouldChangeALevel(path)) {
            return why;
        }
    }
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) {
        return std::nullopt;
    }
    if (use == FileUse::Folder) {
        if (!S_ISDIR(info.st_mode)) {
            return target.string() + " is not a folder";
        }
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        return target.string() + " is not a regular file";
    }
    if (const auto readers = OtherReadersByMode(info.st_mode, use)) {
        return target.string() + " can be read by " + std::string(*readers) +
               (use == FileUse::Credential ? std::string()
                                           : " (chmod 600 it, or let systemd hand it over with "
                                             "LoadCredential=)");
    }
    return std::nullopt;
}

bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes, FileUse use) {
    const Resolved found = Resolve(file);
    return MayWrite(found) && ReplaceInFolder(found, bytes, use == FileUse::Secret);
}

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe;
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

namespace {

class PosixAppendOnly final : public AppendOnlyFile {
public:
    explicit PosixAppendOnly(int fd) : fd_(fd) {}
    ~PosixAppendOnly() override { ::close(fd_); }

    std::uint64_t Size() const override {
        struct stat info {};
        return ::fstat(fd_, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }

    bool Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    }

    bool Sync() override { return ::fdatasync(fd_) == 0; }

    bool Truncate(std::uint64_t size) override {
        return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 && ::fsync(fd_) == 0;
    }

private:
    int fd_;
};

} // namespace

std::unique_ptr<AppendOnlyFile> OpenAppendOnly(const std::filesystem::path& file, std::string& error) {
    struct stat before {};
    const bool existed = ::lstat(file.c_str(), &before) == 0;
    const int fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open " + file.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = file.string() + " is no regular file";
        return nullptr;
    }
    if (!existed) {
        // The new name reaches the disk too, not only the bytes.
        const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return std::make_unique<PosixAppendOnly>(fd);
}

} // namespace lumidex
