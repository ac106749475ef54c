#include "settings/file_io.h"

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace lumidex {
namespace {

// Closes a handle when it goes out of scope.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Close(); }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        if (!valid()) {
            return true;
        }
        const BOOL closed = ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }

private:
    HANDLE handle_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk =
            bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// Follows symbolic links to the end of their chain; nothing for a chain
// that loops or is too long.
std::optional<std::filesystem::path> FollowLinks(const std::filesystem::path& file) {
    constexpr int kMaxLinks = 40;
    std::filesystem::path path = file;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(path, ec)) {
            return path;
        }
        const auto target = std::filesystem::read_symlink(path, ec);
        if (ec) {
            return std::nullopt;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return std::nullopt;
}

// What stands at a path: nothing, a regular file, or something else (a
// folder, a device).
enum class PathKind { Missing, RegularFile, Other };

PathKind KindOf(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                            : PathKind::Other;
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0
               ? PathKind::Other
               : PathKind::RegularFile;
}

// Temporary files are named ".<leaf>.<process>.<counter>.tmp".
std::wstring TempPrefix(const std::filesystem::path& target) {
    return L"." + target.filename().wstring() + L".";
}
constexpr std::wstring_view kTempSuffix = L".tmp";

// Removes the temporary files of writers that were killed before they could
// rename or remove them. Only safe with the file's lock held: then no living
// writer has a temporary file of its own (and one still open could not be
// deleted anyway).
void RemoveStaleTempFiles(const std::filesystem::path& directory,
                          const std::filesystem::path& target) {
    const std::wstring prefix = TempPrefix(target);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::wstring name = it->path().filename().wstring();
        std::error_code type_ec;
        if (name.starts_with(prefix) && name.ends_with(kTempSuffix) &&
            it->is_regular_file(type_ec) && !it->is_symlink(type_ec)) {
            ::DeleteFileW(it->path().c_str());
        }
    }
}

std::filesystem::path DirectoryOf(const std::filesystem::path& target) {
    const std::filesystem::path directory = target.parent_path();
    return directory.empty() ? std::filesystem::path(L".") : directory;
}

struct TempFile {
    std::filesystem::path path; // empty when no file could be created
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// A file beside `target` that did not exist before, opened for writing.
TempFile CreateTempBeside(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path directory = DirectoryOf(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring leaf = TempPrefix(target) + std::to_wstring(::GetCurrentProcessId()) +
                                  L"." + std::to_wstring(counter++) + std::wstring(kTempSuffix);
        const std::filesystem::path temp = directory / leaf;
        HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return {temp, file};
        }
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
    }
    return {};
}

} // namespace

SettingsFileCheck CheckSettingsFile(const std::filesystem::path& file) {
    const auto target = FollowLinks(file);
    if (!target) {
        return {SettingsAccess::NotTrusted, file.string() + " is a loop of links"};
    }
    switch (KindOf(*target)) {
    case PathKind::Other:
        return {SettingsAccess::NotTrusted, target->string() + " is not a regular file"};
    case PathKind::RegularFile:
        if ((::GetFileAttributesW(target->c_str()) & FILE_ATTRIBUTE_READONLY) != 0) {
            return {SettingsAccess::ReadOnly, target->string() + " is read-only"};
        }
        break;
    case PathKind::Missing:
        break;
    }
    return {};
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file, std::string* why) {
    const auto fail = [why](std::string reason) -> std::optional<std::string> {
        if (why) {
            *why = std::move(reason);
        }
        return std::nullopt;
    };
    // Others may read, write or replace the file meanwhile; a directory
    // cannot be opened this way at all.
    Handle handle(::CreateFileW(file.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) {
        return fail(std::system_category().message(static_cast<int>(::GetLastError())));
    }
    // Only a file on a disk is read: a pipe or a device could keep the
    // reader waiting.
    if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
        return fail("not a regular file");
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle.get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > kMaxSettingsFileBytes) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(size.QuadPart > 0 ? static_cast<std::size_t>(size.QuadPart) : 4096);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            bytes.resize(bytes.size() * 2);
        }
        const std::size_t room = bytes.size() - filled;
        DWORD got = 0;
        if (!::ReadFile(handle.get(), bytes.data() + filled,
                        room > 0x10000000 ? 0x10000000 : static_cast<DWORD>(room), &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        filled += got;
        if (filled > kMaxSettingsFileBytes) {
            return std::nullopt; // it grew while being read
        }
    }
    bytes.resize(filled);
    return bytes;
}

bool RunWithFileLock(const std::filesystem::path& file, const std::function<bool()>& work) {
    const auto target = FollowLinks(file);
    if (!target || KindOf(*target) == PathKind::Other) {
        return false;
    }
    // A byte-range lock on the settings file itself would keep readers out
    // and the file from being replaced, so the lock lives in a file of its
    // own beside it, which stays there.
    const std::filesystem::path lock_path =
        DirectoryOf(*target) / (L"." + target->filename().wstring() + L".lock");
    Handle lock_file(::CreateFileW(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!lock_file.valid()) {
        return false;
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(lock_file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) {
        return false;
    }
    const bool done = work();
    ::UnlockFileEx(lock_file.get(), 0, 1, 0, &whole);
    return done;
}

bool RewriteFile(const std::filesystem::path& file,
                 const std::function<std::optional<std::string>(std::string_view)>& edit) {
    return RunWithFileLock(file, [&] {
        std::string why;
        const auto bytes = ReadWholeFile(file, &why);
        if (!bytes && KindOf(*FollowLinks(file)) != PathKind::Missing) {
            return false; // there but unreadable: rewriting it would lose its keys
        }
        const auto updated = edit(bytes ? *bytes : std::string());
        return updated && ReplaceFileDurably(file, *updated);
    });
}

bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes) {
    const auto target = FollowLinks(file);
    if (!target) {
        return false;
    }
    RemoveStaleTempFiles(DirectoryOf(*target), *target);
    const PathKind kind = KindOf(*target);
    if (kind == PathKind::Other) {
        return false;
    }
    // A read-only file is one its owner does not want changed; the rename
    // below would replace it all the same on some systems.
    const DWORD attributes =
        kind == PathKind::RegularFile ? ::GetFileAttributesW(target->c_str()) : 0;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    const TempFile created = CreateTempBeside(*target);
    if (created.path.empty()) {
        return false;
    }
    const std::filesystem::path& temp = created.path;
    Handle temp_file(created.handle);
    const bool written = WriteAll(temp_file.get(), bytes) && ::FlushFileBuffers(temp_file.get()) &&
                         temp_file.Close();
    // A rewritten file keeps its attributes (hidden, archive and the like).
    if (written && kind == PathKind::RegularFile) {
        ::SetFileAttributesW(temp.c_str(), attributes);
    }
    // The rename replaces the directory entry in one step, and write-through
    // makes it reach the disk before the call returns: a kill or a power
    // cut leaves either the old file or the new one.
    if (!written || !::MoveFileExW(temp.c_str(), target->c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        temp_file.Close();
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

std::filesystem::path ExecutablePath() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2); // the name was cut; try with more room
    }
}

bool DirectoryIsWritable(const std::filesystem::path& directory) {
    const std::filesystem::path probe =
        directory / (L".lumidex-probe." + std::to_wstring(::GetCurrentProcessId()));
    HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(file);
    return true;
}

} // namespace lumidex
