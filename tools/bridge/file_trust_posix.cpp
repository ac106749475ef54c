#include "tools/bridge/file_trust.h"

#include "settings/file_owner_posix.h"

#include <sys/stat.h>

namespace lumidex {
namespace {

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
