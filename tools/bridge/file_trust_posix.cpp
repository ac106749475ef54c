#include "tools/bridge/file_trust.h"

#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumidex {
namespace {

// True when the group is the running user's private one: named as the user,
// with no other member, so its write permission lets no one else in.
bool IsOwnPrivateGroup(gid_t gid) {
    if (gid != ::getegid()) {
        return false;
    }
    std::vector<char> buffer(16384);
    passwd user{};
    passwd* found_user = nullptr;
    group grp{};
    group* found_group = nullptr;
    const std::size_t half = buffer.size() / 2;
    if (::getpwuid_r(::geteuid(), &user, buffer.data(), half, &found_user) != 0 ||
        found_user == nullptr ||
        ::getgrgid_r(gid, &grp, buffer.data() + half, half, &found_group) != 0 ||
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

// Why another user could change this file, folder or link; nothing when
// none could.
std::optional<std::string> OthersCouldChange(const struct stat& info, const std::string& shown) {
    if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        return shown + " belongs to another user (uid " + std::to_string(info.st_uid) + ")";
    }
    if (S_ISLNK(info.st_mode) || (S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0)) {
        return std::nullopt;
    }
    if ((info.st_mode & S_IWOTH) != 0) {
        return shown + " can be written by every user";
    }
    if ((info.st_mode & S_IWGRP) != 0 && !IsOwnPrivateGroup(info.st_gid)) {
        return shown + " can be written by its group";
    }
    return std::nullopt;
}

// Checks every level of a path from the root down; the first reason found.
std::optional<std::string> CheckLevels(const std::filesystem::path& path) {
    std::filesystem::path level;
    for (const auto& part : path) {
        level /= part;
        struct stat info {};
        if (::lstat(level.c_str(), &info) != 0) {
            return std::nullopt; // the reader says why it cannot be read
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

} // namespace

std::optional<std::string> UntrustedFileReason(const std::filesystem::path& file, FileUse use) {
    std::error_code error;
    const std::filesystem::path given = std::filesystem::absolute(file, error).lexically_normal();
    const std::filesystem::path target = std::filesystem::canonical(file, error);
    if (error) {
        return std::nullopt;
    }
    // The links on the way as given, then the file and folders they lead to.
    for (const auto& path : {given, target}) {
        if (auto why = CheckLevels(path)) {
            return why;
        }
    }
    struct stat info {};
    const mode_t readers = use == FileUse::Secret       ? S_IRGRP | S_IROTH
                           : use == FileUse::Credential ? S_IROTH
                                                        : 0;
    if (readers != 0 && ::stat(target.c_str(), &info) == 0 && (info.st_mode & readers) != 0) {
        return target.string() + " can be read by " +
               ((info.st_mode & S_IROTH) != 0 ? "every user" : "its group") +
               " (chmod 600 it, or give it to the service through LoadCredential=)";
    }
    return std::nullopt;
}

} // namespace lumidex
