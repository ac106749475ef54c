#include "settings/file_io.h"

#include "link/system_error_win32.h"
#include "settings/trust_rule.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

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
    void Release() { handle_ = INVALID_HANDLE_VALUE; }
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

std::string Shown(const std::filesystem::path& path) {
    return Utf8FromWide(path.wstring());
}

// Frees what a Windows call allocated with LocalAlloc.
struct LocalMemory {
    HLOCAL memory = nullptr;
    ~LocalMemory() { ::LocalFree(memory); }
};

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text)) {
        return "?";
    }
    const LocalMemory owned{text};
    return Utf8FromWide(text);
}

// "DOMAIN\name" of a SID, or the SID itself when it has no name here.
std::string AccountName(const std::string& sid_text) {
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(WideFromUtf8(sid_text).c_str(), &sid)) {
        return sid_text;
    }
    const LocalMemory owned{sid};
    wchar_t name[256];
    wchar_t domain[256];
    DWORD name_size = 256;
    DWORD domain_size = 256;
    SID_NAME_USE use{};
    if (!::LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
        return sid_text;
    }
    const std::wstring account =
        domain_size > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
    return Utf8FromWide(account);
}

// The running user's SID (binary, and as text), read once.
struct CurrentUser {
    std::vector<BYTE> token_user;
    std::string sid;
    bool elevated = false;

    static const CurrentUser& Get() {
        static const CurrentUser user = [] {
            CurrentUser found;
            HANDLE token = nullptr;
            if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
                return found;
            }
            DWORD size = 0;
            ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
            found.token_user.resize(size);
            if (size == 0 ||
                !::GetTokenInformation(token, TokenUser, found.token_user.data(), size, &size)) {
                found.token_user.clear();
            } else {
                found.sid = SidText(found.binary());
            }
            TOKEN_ELEVATION elevation{};
            DWORD got = 0;
            found.elevated =
                ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &got) &&
                elevation.TokenIsElevated != 0;
            ::CloseHandle(token);
            return found;
        }();
        return user;
    }

    PSID binary() const {
        return token_user.empty()
                   ? nullptr
                   : reinterpret_cast<const TOKEN_USER*>(token_user.data())->User.Sid;
    }
};

// The owner and access list as SecurityFacts; nothing when they cannot be
// read. `descriptor` comes from GetNamedSecurityInfoW or GetSecurityInfo.
SecurityFacts FactsOf(PSID owner, PACL list) {
    SecurityFacts facts;
    facts.owner_sid = SidText(owner);
    if (list == nullptr) {
        return facts;
    }
    facts.entries.emplace();
    for (DWORD i = 0; i < list->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(list, i, reinterpret_cast<void**>(&header))) {
            continue;
        }
        const bool allowed = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                             header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
        const bool denied = header->AceType == ACCESS_DENIED_ACE_TYPE ||
                            header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE;
        if (!allowed && !denied) {
            continue; // object entries belong to directory objects, not files
        }
        // The plain and the callback entries share this layout.
        const auto* entry = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        facts.entries->push_back({allowed, SidText(const_cast<DWORD*>(&entry->SidStart)),
                                  entry->Mask, (header->AceFlags & INHERIT_ONLY_ACE) != 0});
    }
    return facts;
}

std::optional<SecurityFacts> SecurityOf(const std::filesystem::path& path) {
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const LocalMemory owned{descriptor};
    return FactsOf(owner, list);
}

// Why a user other than the running one (and those trusted beside it)
// could change the file or folder; nothing when none could.
std::optional<std::string> OthersCouldChange(const std::filesystem::path& path,
                                             const std::string& shown) {
    const auto facts = SecurityOf(path);
    if (!facts) {
        return shown + ": its owner and access list cannot be read";
    }
    return WhoElseMay(*facts, CurrentUser::Get().sid, rights::kToChange, shown, "changed",
                      AccountName);
}

// A settings file as judged before any use: where its links lead, and what
// stands against it.
struct Judged : Concerns {
    std::optional<std::filesystem::path> target; // nothing for a loop of links
};

// Follows the links, judging the folder of each and the file at the end
// (see CheckSettingsFile).
Judged Judge(const std::filesystem::path& file) {
    Judged judged;
    judged.target = FollowLinks(file);
    if (!judged.target) {
        judged.Note(TrustConcern::NotRegular, Shown(file) + " is a loop of links");
        return judged;
    }
    std::vector<std::filesystem::path> folders{DirectoryOf(file)};
    for (std::filesystem::path hop = file; hop != *judged.target;) {
        std::error_code ec;
        const auto next = std::filesystem::read_symlink(hop, ec);
        if (ec) {
            break;
        }
        hop = next.is_absolute() ? next : hop.parent_path() / next;
        folders.push_back(DirectoryOf(hop));
    }
    for (const auto& folder : folders) {
        if (KindOf(folder) == PathKind::Missing) {
            continue; // nothing there yet; whoever makes the folder makes the file
        }
        if (auto why = OthersCouldChange(folder, "the folder " + Shown(folder))) {
            judged.Note(TrustConcern::OtherUsers, *why);
        }
    }
    switch (KindOf(*judged.target)) {
    case PathKind::Other:
        judged.Note(TrustConcern::NotRegular, Shown(*judged.target) + " is not a regular file");
        break;
    case PathKind::RegularFile:
        if (auto why = OthersCouldChange(*judged.target, Shown(*judged.target))) {
            judged.Note(TrustConcern::OtherUsers, *why);
        }
        break;
    case PathKind::Missing:
        if (*judged.target != file) {
            judged.Note(TrustConcern::CreateThroughLink,
                        Shown(file) + " is a link to " + Shown(*judged.target) +
                            ", which does not exist; no file is created through a link");
        }
        break;
    }
    return judged;
}

SettingsAccess AccessOf(const Judged& judged) {
    return AccessFor(judged.concern, CurrentUser::Get().elevated);
}

// An access list that lets the running user alone in, protected from what
// the folder would pass on: for the lock file.
class UserOnlyAccess {
public:
    UserOnlyAccess() {
        const PSID user = CurrentUser::Get().binary();
        if (user == nullptr) {
            return;
        }
        const DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(user);
        list_.resize(size);
        ready_ = ::InitializeAcl(acl(), size, ACL_REVISION) &&
                 ::AddAccessAllowedAce(acl(), ACL_REVISION, FILE_ALL_ACCESS, user) &&
                 ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                 ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl(), FALSE) &&
                 ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    }
    UserOnlyAccess(const UserOnlyAccess&) = delete;
    UserOnlyAccess& operator=(const UserOnlyAccess&) = delete;

    bool ready() const { return ready_; }
    PACL acl() { return reinterpret_cast<PACL>(list_.data()); }
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    std::vector<BYTE> list_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

std::filesystem::path LockPathOf(const std::filesystem::path& target) {
    return DirectoryOf(target) / (L"." + target.filename().wstring() + L".lock");
}

// Opens the lock file, creating it for the running user alone. One left by
// an older copy that others may open is closed to them first; one that
// another user owns, a link or a second name of another file is not used.
// `busy` says that another process has it open in a way that shuts us out.
HANDLE OpenLockFile(const std::filesystem::path& lock_path, bool& busy) {
    busy = false;
    UserOnlyAccess access;
    if (!access.ready()) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file =
        ::CreateFileW(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, access.attributes(),
                      OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        busy = ::GetLastError() == ERROR_SHARING_VIOLATION;
        return file;
    }
    Handle opened(file);
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        info.nNumberOfLinks != 1) {
        return INVALID_HANDLE_VALUE;
    }
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                          &list, nullptr, &descriptor) != ERROR_SUCCESS) {
        return INVALID_HANDLE_VALUE;
    }
    const LocalMemory owned{descriptor};
    const SecurityFacts facts = FactsOf(owner, list);
    const std::string& user = CurrentUser::Get().sid;
    if (!IsTrustedSid(facts.owner_sid, user)) {
        return INVALID_HANDLE_VALUE;
    }
    if (WhoElseMay(facts, user, rights::kToLock, "", "opened", AccountName) &&
        ::SetNamedSecurityInfoW(const_cast<wchar_t*>(lock_path.c_str()), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, access.acl(), nullptr) != ERROR_SUCCESS) {
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE kept = opened.get();
    opened.Release();
    return kept;
}

// Runs `work` holding the lock of the file at `target`: the lock file is
// taken with LockFileEx without waiting, tried again every millisecond for
// at most `wait` while another process holds it or shuts us out of it.
WriteOutcome WithLock(const std::filesystem::path& target, std::chrono::milliseconds wait,
                      const std::function<WriteOutcome()>& work) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const std::filesystem::path lock_path = LockPathOf(target);
    for (;;) {
        bool busy = false;
        Handle lock_file(OpenLockFile(lock_path, busy));
        if (lock_file.valid()) {
            OVERLAPPED whole{};
            if (::LockFileEx(lock_file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                             0, 1, 0, &whole)) {
                const WriteOutcome done = work();
                ::UnlockFileEx(lock_file.get(), 0, 1, 0, &whole);
                return done;
            }
            busy = ::GetLastError() == ERROR_LOCK_VIOLATION;
        }
        if (!busy) {
            return WriteOutcome::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return WriteOutcome::Locked;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

struct TempFile {
    std::filesystem::path path; // empty when no file could be created
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// A file beside `target` that did not exist before, opened for writing.
TempFile CreateTempBeside(const std::filesystem::path& target,
                          SECURITY_ATTRIBUTES* security = nullptr) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path directory = DirectoryOf(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring leaf = TempPrefix(target) + std::to_wstring(::GetCurrentProcessId()) +
                                  L"." + std::to_wstring(counter++) + std::wstring(kTempSuffix);
        const std::filesystem::path temp = directory / leaf;
        HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, security, CREATE_NEW,
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

// What reading a file came to; Shut when another program kept it shut (a
// handle that shares nothing, or a lock on its bytes) for the whole wait.
enum class ReadResult { Read, Missing, Shut, Failed };

ReadResult ReadFileBytes(const std::filesystem::path& file, std::string& bytes, std::string& why) {
    const auto deadline = std::chrono::steady_clock::now() + kSettingsLockWait;
    for (;;) {
        // Others may read, write or replace the file meanwhile; a directory
        // cannot be opened this way at all.
        Handle handle(::CreateFileW(file.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD code = handle.valid() ? ERROR_SUCCESS : ::GetLastError();
        if (handle.valid()) {
            // Only a file on a disk is read: a pipe or a device could keep
            // the reader waiting.
            if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
                why = "not a regular file";
                return ReadResult::Failed;
            }
            LARGE_INTEGER size{};
            if (!::GetFileSizeEx(handle.get(), &size) || size.QuadPart < 0 ||
                static_cast<unsigned long long>(size.QuadPart) > kMaxSettingsFileBytes) {
                why = "bigger than " + std::to_string(kMaxSettingsFileBytes) + " bytes";
                return ReadResult::Failed;
            }
            bytes.assign(size.QuadPart > 0 ? static_cast<std::size_t>(size.QuadPart) : 4096, '\0');
            std::size_t filled = 0;
            for (;;) {
                if (filled == bytes.size()) {
                    bytes.resize(bytes.size() * 2);
                }
                const std::size_t room = bytes.size() - filled;
                DWORD got = 0;
                if (!::ReadFile(handle.get(), bytes.data() + filled,
                                room > 0x10000000 ? 0x10000000 : static_cast<DWORD>(room), &got,
                                nullptr)) {
                    code = ::GetLastError();
                    break;
                }
                if (got == 0) {
                    bytes.resize(filled);
                    return ReadResult::Read;
                }
                filled += got;
                if (filled > kMaxSettingsFileBytes) {
                    why = "it grew beyond " + std::to_string(kMaxSettingsFileBytes) + " bytes";
                    return ReadResult::Failed; // while being read
                }
            }
        }
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            why = SystemMessage(code);
            return ReadResult::Missing;
        }
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION) {
            why = SystemMessage(code);
            return ReadResult::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = "another program keeps it locked";
            return ReadResult::Shut;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Renames `temp` over `target`. Windows refuses to replace a file while
// any handle to it is open, even one that shares it for deletion: a reader
// of the settings (this program's own threads included), a virus scanner or
// an indexer holds one for moments. The rename is tried again every
// millisecond for up to kSettingsLockWait while it is refused that way.
bool MoveOver(const std::filesystem::path& temp, const std::filesystem::path& target) {
    const auto deadline = std::chrono::steady_clock::now() + kSettingsLockWait;
    for (;;) {
        if (::MoveFileExW(temp.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD code = ::GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION &&
             code != ERROR_LOCK_VIOLATION) ||
            std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

SettingsFileCheck CheckSettingsFile(const std::filesystem::path& file) {
    const Judged judged = Judge(file);
    const SettingsAccess access = AccessOf(judged);
    if (access != SettingsAccess::ReadWrite) {
        return {access, judged.reason};
    }
    if (KindOf(*judged.target) == PathKind::RegularFile &&
        (::GetFileAttributesW(judged.target->c_str()) & FILE_ATTRIBUTE_READONLY) != 0) {
        return {SettingsAccess::ReadOnly, Shown(*judged.target) + " is read-only"};
    }
    return {};
}

std::optional<std::string> WhyUntrusted(const std::filesystem::path& file, FileUse use) {
    if (use == FileUse::Folder) {
        const auto target = FollowLinks(file);
        if (!target || !std::filesystem::exists(*target)) {
            return std::nullopt;
        }
        if (!std::filesystem::is_directory(*target)) {
            return Shown(*target) + " is not a folder";
        }
        return OthersCouldChange(*target, Shown(*target));
    }
    const Judged judged = Judge(file);
    if (judged.concern == TrustConcern::OtherUsers || judged.concern == TrustConcern::NotRegular) {
        return judged.reason;
    }
    if (use == FileUse::Configuration || !judged.target ||
        KindOf(*judged.target) != PathKind::RegularFile) {
        return std::nullopt;
    }
    // A secret: who else may read it, by its access list.
    const auto facts = SecurityOf(*judged.target);
    if (!facts) {
        return Shown(*judged.target) + ": its owner and access list cannot be read";
    }
    auto why = WhoElseMay(*facts, CurrentUser::Get().sid, rights::kToRead, Shown(*judged.target),
                          "read", AccountName);
    if (why) {
        *why += " (leave only your own account, the Administrators and SYSTEM on its access "
                "list: icacls FILE /inheritance:r /grant:r \"%USERNAME%:F\" Administrators:F "
                "SYSTEM:F)";
    }
    return why;
}

std::filesystem::path SettingsLockFile(const std::filesystem::path& file) {
    return LockPathOf(FollowLinks(file).value_or(file));
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file, std::string* why) {
    std::string reason;
    std::string bytes;
    const Judged judged = Judge(file);
    if (AccessOf(judged) == SettingsAccess::NotTrusted) {
        reason = judged.reason;
    } else if (ReadFileBytes(file, bytes, reason) == ReadResult::Read) {
        return bytes;
    }
    if (why) {
        *why = reason;
    }
    return std::nullopt;
}

bool RunWithFileLock(const std::filesystem::path& file, const std::function<bool()>& work) {
    if (CheckSettingsFile(file).access != SettingsAccess::ReadWrite) {
        return false;
    }
    // A byte-range lock on the settings file itself would keep readers out
    // and the file from being replaced, so the lock lives in a file of its
    // own beside it, which stays there.
    return WithLock(*FollowLinks(file), kSettingsLockWait, [&] {
               return work() ? WriteOutcome::Written : WriteOutcome::Failed;
           }) == WriteOutcome::Written;
}

WriteOutcome RewriteFile(const std::filesystem::path& file,
                         const std::function<std::optional<std::string>(std::string_view)>& edit,
                         std::chrono::milliseconds lock_wait) {
    if (CheckSettingsFile(file).access != SettingsAccess::ReadWrite) {
        return WriteOutcome::Failed;
    }
    const std::filesystem::path target = *FollowLinks(file);
    return WithLock(target, lock_wait, [&] {
        std::string bytes;
        std::string why;
        switch (ReadFileBytes(target, bytes, why)) {
        case ReadResult::Read:
            break;
        case ReadResult::Missing:
            bytes.clear();
            break;
        case ReadResult::Shut:
            return WriteOutcome::Locked;
        case ReadResult::Failed:
            return WriteOutcome::Failed; // there but unreadable: rewriting it would lose its keys
        }
        const auto updated = edit(bytes);
        return updated && ReplaceFileDurably(target, *updated) ? WriteOutcome::Written
                                                               : WriteOutcome::Failed;
    });
}

bool ReplaceFileDurably(const std::filesystem::path& file, std::string_view bytes, FileUse use) {
    const auto target = FollowLinks(file);
    if (!target || CheckSettingsFile(file).access != SettingsAccess::ReadWrite) {
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
    // A secret is written into a file the running user alone may open, and
    // keeps that access list when it is renamed over the old one.
    UserOnlyAccess user_only;
    if (use == FileUse::Secret && !user_only.ready()) {
        return false;
    }
    const TempFile created =
        CreateTempBeside(*target, use == FileUse::Secret ? user_only.attributes() : nullptr);
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
    if (!written || !MoveOver(temp, *target)) {
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

namespace {

class Win32AppendOnly final : public AppendOnlyFile {
public:
    explicit Win32AppendOnly(HANDLE file) : file_(file) {}
    ~Win32AppendOnly() override { ::CloseHandle(file_); }

    std::uint64_t Size() const override {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(file_, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }

    bool Write(std::string_view bytes) override {
        LARGE_INTEGER end{};
        if (!::SetFilePointerEx(file_, LARGE_INTEGER{}, &end, FILE_END)) {
            return false;
        }
        while (!bytes.empty()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
            if (!::WriteFile(file_, bytes.data(), chunk, &written, nullptr) || written == 0) {
                return false;
            }
            bytes.remove_prefix(written);
        }
        return true;
    }

    bool Sync() override { return ::FlushFileBuffers(file_) != 0; }

    bool Truncate(std::uint64_t size) override {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(size);
        return ::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file_) &&
               ::FlushFileBuffers(file_);
    }

private:
    HANDLE file_;
};

} // namespace

std::unique_ptr<AppendOnlyFile> OpenAppendOnly(const std::filesystem::path& file, std::string& error) {
    const HANDLE handle = ::CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = "cannot open " + file.string() + ": " + SystemMessage(::GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32AppendOnly>(handle);
}

} // namespace lumidex
