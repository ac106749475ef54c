#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex {

// The largest settings file that is read or written, in bytes (16 MiB). A
// bigger file counts as unreadable: readers get their defaults and it is never
// rewritten, so its keys are not lost to a reader that gave up on it.
inline constexpr std::size_t kMaxSettingsFileBytes = std::size_t{16} * 1024 * 1024;

// Reads a whole regular file. Returns nothing when it is missing, cannot be
// read, is bigger than kMaxSettingsFileBytes, or is not a regular file (a
// directory, a FIFO or a device is never waited on or read).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file);

// Runs `work` while holding an exclusive lock on `file` that every process
// writing the file through these functions respects; symbolic links are
// followed to the end of their chain first, so writers through a link and
// writers of the file itself exclude each other. Waits while another process
// holds the lock. The lock dies with its holder, so a killed writer never
// leaves it held. Readers need no lock (the file is replaced whole). Returns
// false without running `work` when the lock cannot be taken (the directory
// cannot be written, the file is not a regular file); otherwise what `work`
// returned.
bool RunWithFileLock(const std::filesystem::path& file, const std::function<bool()>& work);

// Replaces a file's contents so that a crash at any moment leaves either the
// old file or the new one whole: the bytes go to a temporary file beside it,
// reach the disk, and are renamed over the old file. Symbolic links are
// followed to the end of their chain, so the file they lead to is the one
// replaced. A new file gets the mode the process's umask gives it; a rewritten
// one keeps its mode, owner and group. Meant to run inside RunWithFileLock for
// the same file: it first removes temporary files that killed writers left
// beside it. Returns false (and leaves the old file as it was) when any step
// fails, when the existing file is not a regular file, or when it is read-only
// (no write permission bit set, or not writable by this process).
bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes);

// The directory of the running executable; empty when it cannot be found.
std::filesystem::path ExecutableDirectory();

// True when a file could be created in the directory (it tries one).
bool DirectoryIsWritable(const std::filesystem::path& directory);

} // namespace lumidex
