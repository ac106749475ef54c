#include "settings/file_io.h"

#include <windows.h>

#include <atomic>
#include <string>

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

struct TempFile {
    std::filesystem::path path; // empty when no file could be created
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// A file beside `target` that did not exist before, opened for writing.
TempFile CreateTempBeside(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path directory = target.parent_path();
    if (directory.empty()) {
        directory = L".";
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring leaf = L"." + target.filename().wstring() + L"." +
                                  std::to_wstring(::GetCurrentProcessId()) + L"." +
                                  std::to_wstring(counter++) + L".tmp";
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

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
    // Others may read, write or replace the file meanwhile; a directory
    // cannot be opened this way at all.
    Handle handle(::CreateFileW(file.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) {
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle.get(), &size) || size.QuadPart < 0) {
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
    }
    bytes.resize(filled);
    return bytes;
}

bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes) {
    const std::filesystem::path target = ResolveLink(file);
    // A read-only file is one its owner does not want changed; the rename
    // below would replace it all the same on some systems.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return false;
    }
    const TempFile created = CreateTempBeside(target);
    if (created.path.empty()) {
        return false;
    }
    const std::filesystem::path& temp = created.path;
    Handle temp_file(created.handle);
    const bool written = WriteAll(temp_file.get(), bytes) && ::FlushFileBuffers(temp_file.get()) &&
                         temp_file.Close();
    // The rename replaces the directory entry in one step, and write-through
    // makes it reach the disk before the call returns: a kill or a power
    // cut leaves either the old file or the new one.
    if (!written || !::MoveFileExW(temp.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        temp_file.Close();
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

std::filesystem::path ExecutableDirectory() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            break;
        }
        name.resize(name.size() * 2); // the name was cut; try with more room
    }
    return std::filesystem::path(name).parent_path();
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
