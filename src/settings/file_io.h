#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// The largest settings file that is read or written, in bytes (16 MiB). A
// bigger file counts as unreadable: readers get their defaults and it is never
// rewritten, so its keys are not lost to a reader that gave up on it.
inline constexpr std::size_t kMaxSettingsFileBytes = std::size_t{16} * 1024 * 1024;

// How far a settings file may be used by this process.
enum class SettingsAccess {
    ReadWrite,  // read and written as usual
    ReadOnly,   // read, never written
    NotTrusted, // neither read nor written: readers get their defaults
};

// The verdict on a settings file, with a one-line reason when it is not
// ReadWrite (naming the file or folder and what is wrong with it).
struct SettingsFileCheck {
    SettingsAccess access = SettingsAccess::ReadWrite;
    std::string reason;
};

// How long a writer waits for the lock of a settings file while another
// process of the same user holds it (no other user can: see RunWithFileLock).
inline constexpr std::chrono::milliseconds kSettingsLockWait{2000};

// What became of a write.
enum class WriteOutcome {
    Written,
    Locked, // another process held the file's lock for the whole wait
    Failed, // refused, or a step failed
};

// Says whether the settings file may be read and written. On POSIX systems
// the file, its folder and every symbolic link on the way to it must belong
// to the running user or root and be writable by no other user (a sticky
// folder of the running user or root counts as safe); a file that fails
// this is ReadOnly when it is a regular file, and NotTrusted when this
// process runs as root (another user could have chosen what root reads and
// writes) or when it is no regular file. A link to a missing file is
// ReadOnly: no file is ever created through a link. A file without write
// permission, or a folder that cannot be written, is ReadOnly. A missing
// file in a folder that can be written is ReadWrite. ReadWholeFile and the
// writers below apply the same rule on every call, so a file that is not
// ReadWrite is never written and one that is NotTrusted is never read.
// On Windows the owner and the access list stand for the owner and mode:
// what a user other than the running one, the Administrators, SYSTEM or
// TrustedInstaller may change (or owns) counts as another user's, and an
// elevated process stands where root does (see trust_rule.h).
SettingsFileCheck CheckSettingsFile(const std::filesystem::path& file);

// What a program reads a file for, which decides who else it must be kept
// from (see WhyUntrusted).
enum class FileUse {
    Configuration, // what it says is obeyed: no other user may change it
    Secret,        // a password's hash, a token, a key: nor read it
    Credential,    // a secret the service manager handed over (systemd's
                   // LoadCredential=), whose group permission stands for the
                   // manager's own access list: every user must not read it
    Folder,        // a folder the program keeps its files in: no other user
                   // may change it or what it holds
};

// Why a program must not take what `file` holds for `use`:
// another user could have changed it, a link on its way or any folder
// above it (the owner and mode on POSIX systems, the owner and access list
// on Windows, where the Administrators, SYSTEM and TrustedInstaller count
// as the running user's own), it is no regular file (a folder, for
// FileUse::Folder), or, for a secret, another user could read it. One line
// naming the file and who else could, or nothing when the program may take
// it. A file that cannot be looked at at all is left to its reader, which
// says why it cannot read it.
std::optional<std::string> WhyUntrusted(const std::filesystem::path& file,
                                        FileUse use = FileUse::Configuration);

// Reads a whole regular file. Returns nothing when it is missing, cannot be
// read, is bigger than kMaxSettingsFileBytes, is not a regular file (a
// directory, a FIFO or a device is never opened, waited on or read), or is
// NotTrusted (see CheckSettingsFile). When `why` is given, a failure puts the
// reason there: the system's message, or what the check refused.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file,
                                         std::string* why = nullptr);

// Rewrites a file under its lock (see RunWithFileLock): `edit` gets the
// file's current bytes (empty for a file that did not exist) and returns the
// new ones, or nothing to leave the file alone; they are stored as
// ReplaceFileDurably stores them. On POSIX systems the folder is opened once
// and the lock, the read, the temporary file and the rename all work through
// that one handle, so a folder or link swapped meanwhile cannot redirect any
// step. Waits up to `lock_wait` for a lock another process holds, and gives
// Locked without calling `edit` when it is still held then. Gives Failed
// without calling `edit` when the file is not ReadWrite (CheckSettingsFile),
// cannot be read or its lock cannot be opened; Failed when `edit` gives
// nothing or a step of the replacement fails.
WriteOutcome RewriteFile(const std::filesystem::path& file,
                         const std::function<std::optional<std::string>(std::string_view)>& edit,
                         std::chrono::milliseconds lock_wait = kSettingsLockWait);

// Runs `work` while holding an exclusive lock on `file` that every process
// writing the file through these functions respects; symbolic links are
// followed to the end of their chain first, so writers through a link and
// writers of the file itself exclude each other. The lock is a file of its
// own beside the settings file (SettingsLockFile), which only the running
// user may open, so no other user can take it and keep a writer waiting;
// it stays there when released. Waits up to kSettingsLockWait while
// another process holds it. The lock dies with its holder, so a killed
// writer never leaves it held. Readers need no lock (the file is replaced
// whole). Returns false without running `work` when the lock cannot be
// taken (still held after the wait, the directory cannot be written, the
// file is not a regular file or not ReadWrite, a lock file there that
// another user owns); otherwise what `work` returned.
bool RunWithFileLock(const std::filesystem::path& file, const std::function<bool()>& work);

// The lock file of a settings file: ".<name>.lock" beside the file at the
// end of its chain of links.
std::filesystem::path SettingsLockFile(const std::filesystem::path& file);

// Replaces a file's contents so that a crash at any moment leaves either the
// old file or the new one whole: the bytes go to a temporary file beside it,
// reach the disk, and are renamed over the old file. Symbolic links are
// followed to the end of their chain, so the file they lead to is the one
// replaced. A new file gets the mode the process's umask gives it; a rewritten
// one keeps its mode, owner and group. Meant to run inside RunWithFileLock for
// the same file: it first removes temporary files that killed writers left
// beside it. Returns false (and leaves the old file as it was) when any step
// fails, when the existing file is not a regular file, when it is read-only
// (no write permission bit set, or not writable by this process), or when it
// is not ReadWrite (CheckSettingsFile). Only temporary files of the running
// user are removed. A FileUse::Secret is written for the running user
// alone (mode 0600, or an access list of that user only), new or rewritten.
// On Windows, where a file cannot be replaced while another handle to it is
// open (a reader's, for a moment), the replacement waits up to
// kSettingsLockWait for it to close.
bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes,
                        FileUse use = FileUse::Configuration);

// A file written only at its end, each Append on the disk before it
// returns (a log that must not lose what it acknowledged to a kill or a
// power cut). A new one is made for the running user alone (mode 0600 on
// POSIX systems, with its folder's entry made durable; on Windows the
// folder's access list).
class AppendOnlyFile {
public:
    virtual ~AppendOnlyFile() = default;
    // Its size in bytes now.
    virtual std::uint64_t Size() const = 0;
    // Writes the bytes at the end (into the system's cache: a killed
    // program loses nothing of them, a power cut may until Sync).
    virtual bool Write(std::string_view bytes) = 0;
    // Waits until everything written is on the disk.
    virtual bool Sync() = 0;
    // Cuts the file to `size` bytes (a half-written end a crash left), durably.
    virtual bool Truncate(std::uint64_t size) = 0;
};

// Opens (or makes) the file for appending; nothing, and why in `error`,
// when it cannot.
std::unique_ptr<AppendOnlyFile> OpenAppendOnly(const std::filesystem::path& file,
                                               std::string& error);

// The running executable's full path; empty when it cannot be found.
std::filesystem::path ExecutablePath();

// The directory of the running executable; empty when it cannot be found.
inline std::filesystem::path ExecutableDirectory() {
    return ExecutablePath().parent_path();
}

// True when a file could be created in the directory (it tries one).
bool DirectoryIsWritable(const std::filesystem::path& directory);

} // namespace lumidex
