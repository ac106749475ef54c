#pragma once

#include "settings/file_io.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// The settings file: an INI-style text of [section] lines and key=value
// lines, read and written one key at a time. Section and key names match
// without regard to letter case; blanks around names and values do not count;
// the first of two equal sections, or of two equal keys in a section, is the
// one used; a line starting with ';' is a comment and a line without '=' holds
// no key. CR LF, a lone LF and a lone CR each end a line, and lines added to a
// file end the way the file's first line does (CR LF in a new file). Text is
// UTF-8; a file that starts with the UTF-16LE byte-order mark is read and
// written as UTF-16LE, and an 8-bit file in a Windows code page keeps that
// code page (see DecodeSettingsText). A file bigger than
// kMaxSettingsFileBytes, or anything but a regular file, counts as unreadable.

// Returns the value of `key` in `section`, with one pair of enclosing matching
// quotes removed, cut to size - 1 characters. A key that is present with an
// empty value gives the empty text. When the file, the section or the key is
// missing (or the file cannot be read) the result is `fallback`, cut the same
// way. A size of 0 gives the empty text.
std::string ReadSetting(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view fallback, std::size_t size);

// Stores `value` under `key` in `section`. Creates the file when it is
// missing, appends a missing section at the end, replaces an existing key's
// line in place, and adds a new key after the last line of its section; every
// other line stays as it was. Line breaks inside `value` become blanks, so a
// value can never add lines of its own. The read and the rewrite happen under
// the file's lock (RunWithFileLock), so writers in other processes never lose
// each other's keys, and the file is replaced durably (ReplaceFileDurably).
// Returns false and writes nothing when the names are refused (see
// AreWritableNames), when the file is unreadable, read-only or not a regular
// file, when the result would exceed kMaxSettingsFileBytes, or when the file or
// its directory cannot be written; callers are free to ignore it.
bool WriteSetting(const std::filesystem::path& file, std::string_view section, std::string_view key,
                  std::string_view value);

// The same, saying what became of it: Locked when another process of the
// user held the file's lock for all of `lock_wait` (nothing is written; a
// later write may get through), Failed for every reason above.
WriteOutcome StoreSetting(const std::filesystem::path& file, std::string_view section,
                          std::string_view key, std::string_view value,
                          std::chrono::milliseconds lock_wait = kSettingsLockWait);

// One key to store with StoreSettings.
struct SettingWrite {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

// Stores several keys with one durable replacement of the file, under one
// taking of its lock: the file ends as storing them one by one with
// StoreSetting, in order, would leave it (a later value of a key replaces
// an earlier one), but a crash leaves either all of them or none. Written
// without touching the file when there is nothing to store; Locked as
// StoreSetting (nothing is written); Failed, writing nothing, when any
// write's names are refused (see AreWritableNames) and for every reason
// StoreSetting fails.
WriteOutcome StoreSettings(const std::filesystem::path& file, std::span<const SettingWrite> writes,
                           std::chrono::milliseconds lock_wait = kSettingsLockWait);

// The one-line reason a write that came back Locked gives, naming the lock
// file.
std::string LockedReason(const std::filesystem::path& file);

// True when `section` and `key` can be stored as names without breaking the
// file's lines: neither holds a CR or LF, the section holds no ']', and the key
// holds no '=' and does not start (after blanks) with '[' or ';', which would
// make its line a section line or a comment. Blanks around a name do not count
// on reading or writing.
bool AreWritableNames(std::string_view section, std::string_view key);

// One name line of a settings text: a section line ("[name]", key empty) or
// a key line inside a section (key lines before the first section have an
// empty section). `line` counts from 1.
struct SettingName {
    std::string section;
    std::string key;
    std::size_t line = 0;
};

// Every section line and key line of a decoded settings text, in file order,
// with names trimmed as the reader trims them; comments, blank lines and
// lines without '=' are left out. For files whose keys are checked against a
// fixed set (the bridge's boards file); values are read with
// ReadSettingFromText.
std::vector<SettingName> ListSettingNames(std::string_view text);

// Pure forms of the two operations on decoded file text, used by the above.
// WriteSettingToText gives the text unchanged when AreWritableNames refuses
// the names.
std::string ReadSettingFromText(std::string_view text, std::string_view section,
                                std::string_view key, std::string_view fallback, std::size_t size);
std::string WriteSettingToText(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value);

} // namespace lumidex
