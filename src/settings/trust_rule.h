#pragma once

#include "settings/file_io.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// The rule behind CheckSettingsFile on every system, as pure decisions over
// what each system tells about a file. The facts differ (owners and mode bits
// on POSIX systems, owners and access lists on Windows); what follows from
// them is the same.

// What stands against using a file, from least to most serious.
enum class TrustConcern {
    None,
    CreateThroughLink, // a link to a missing file: nothing is created through it
    OtherUsers,        // another user could have changed the file or its way
    NotRegular,        // a folder, a device, a FIFO, a link loop
};

// The most serious concern seen on the way to a file, with its reason.
struct Concerns {
    TrustConcern concern = TrustConcern::None;
    std::string reason;

    // Keeps `why` when `seen` is more serious than what was seen before.
    void Note(TrustConcern seen, std::string why);
};

// Who besides the owner may read a file for `use`, from its POSIX mode
// bits: "every user", "its group", or nothing when no one else may (or the
// use keeps nothing secret).
std::optional<std::string_view> OtherReadersByMode(std::uint32_t mode, FileUse use);

// How far a process may use a settings file with that concern. A privileged
// process (root; on Windows an elevated one) does not use at all what
// another user could have changed: a serial port named there would have it
// write a frame into any terminal or device.
SettingsAccess AccessFor(TrustConcern concern, bool privileged);

// One entry of a Windows access list, with its trustee as a SID string
// ("S-1-5-32-545").
struct AccessEntry {
    bool allowed = true; // an allowing or a denying entry
    std::string sid;
    std::uint32_t rights = 0;  // the access mask
    bool inherit_only = false; // only passed on to what is created inside
};

// What Windows says about one file or folder: its owner and its access list.
struct SecurityFacts {
    std::string owner_sid;
    // Nothing when the object has no access list at all, which lets everyone
    // do everything (a FAT volume, or a list removed on purpose).
    std::optional<std::vector<AccessEntry>> entries;
};

// Access rights as Windows numbers them, for the tables of tests and the
// masks below.
namespace rights {
inline constexpr std::uint32_t kReadData = 0x00000001;        // FILE_READ_DATA
inline constexpr std::uint32_t kWriteData = 0x00000002;       // also FILE_ADD_FILE
inline constexpr std::uint32_t kAppendData = 0x00000004;      // also FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t kWriteEa = 0x00000010;         // FILE_WRITE_EA
inline constexpr std::uint32_t kDeleteChild = 0x00000040;     // FILE_DELETE_CHILD
inline constexpr std::uint32_t kWriteAttributes = 0x00000100; // FILE_WRITE_ATTRIBUTES
inline constexpr std::uint32_t kDelete = 0x00010000;          // DELETE
inline constexpr std::uint32_t kWriteDac = 0x00040000;        // WRITE_DAC
inline constexpr std::uint32_t kWriteOwner = 0x00080000;      // WRITE_OWNER
inline constexpr std::uint32_t kGenericAll = 0x10000000;      // GENERIC_ALL
inline constexpr std::uint32_t kGenericWrite = 0x40000000;    // GENERIC_WRITE
inline constexpr std::uint32_t kGenericRead = 0x80000000;     // GENERIC_READ
inline constexpr std::uint32_t kFullControl = 0x001F01FF;     // FILE_ALL_ACCESS
inline constexpr std::uint32_t kModify = 0x001301BF;          // "Modify" in Explorer
inline constexpr std::uint32_t kReadAndExecute = 0x001200A9;  // "Read & execute"

// What changes a file or a folder's contents, or who may: writing and
// appending (for a folder: adding files and folders), extended attributes
// and attributes, deleting it or what it holds, its access list and owner.
inline constexpr std::uint32_t kToChange = kWriteData | kAppendData | kWriteEa | kDeleteChild |
                                           kWriteAttributes | kDelete | kWriteDac | kWriteOwner |
                                           kGenericAll | kGenericWrite;
// What lets a process open a lock file and lock it: the above, or reading.
inline constexpr std::uint32_t kToLock = kToChange | kReadData | kGenericRead;
// What lets a process read a file's contents.
inline constexpr std::uint32_t kToRead = kReadData | kGenericRead | kGenericAll;
} // namespace rights

// The SIDs trusted besides the running user: the Administrators group,
// SYSTEM and TrustedInstaller, which can take any file anyway, and OWNER
// RIGHTS, which stands for the owner (judged on its own).
bool IsTrustedSid(std::string_view sid, std::string_view current_user_sid);

// Why someone other than the running user and the trusted SIDs could use
// any of `rights` on the object (or owns it, and so may give themselves
// any right); nothing when no one could. Entries apply in their order: a
// denying entry for the same SID or for Everyone takes away what it names
// from later allowing entries; entries only passed on to new objects do not
// count. The one line returned names the object as `shown`, says what the
// rights allow (`verb`: "changed", "opened") and names the SID found with
// `name_of`.
std::optional<std::string>
WhoElseMay(const SecurityFacts& facts, std::string_view current_user_sid, std::uint32_t rights,
           std::string_view shown, std::string_view verb,
           const std::function<std::string(const std::string&)>& name_of);

} // namespace lumidex
