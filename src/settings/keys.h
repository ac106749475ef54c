#pragma once

#include "settings/file_io.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lumidex {

// One key of the settings file: where it lives, what a reader gets when it is
// missing, and how many characters a reader keeps.
struct SettingKey {
    std::string_view section;
    std::string_view name;
    std::string_view fallback;
    std::size_t chars;
};

// Room for the serial port name. Device paths here are longer than the five
// characters a COM port name needs; the build sets it per platform.
#ifndef LUMIDEX_PORT_NAME_CHARS
#define LUMIDEX_PORT_NAME_CHARS 255
#endif
inline constexpr std::size_t kPortNameChars = LUMIDEX_PORT_NAME_CHARS;

inline constexpr int kLineCount = 6;

// Every key of the system. Lines are numbered 1..6 in the names; the arrays
// are indexed by line - 1.
namespace keys {

inline constexpr SettingKey kMode{"Set", "Set", "1", 1};
inline constexpr std::array<SettingKey, kLineCount> kDigitCount{{
    {"Set", "wsv1", "3", 6},
    {"Set", "wsv2", "3", 6},
    {"Set", "wsv3", "3", 6},
    {"Set", "wsv4", "3", 6},
    {"Set", "wsv5", "3", 6},
    {"Set", "wsv22", "3", 6},
}};
inline constexpr std::array<SettingKey, kLineCount> kDecimalPlaces{{
    {"Set", "wsv6", "No", 6},
    {"Set", "wsv7", "No", 6},
    {"Set", "wsv8", "No", 6},
    {"Set", "wsv9", "No", 6},
    {"Set", "wsv10", "No", 6},
    {"Set", "wsv23", "No", 6},
}};
inline constexpr SettingKey kUnifiedDigitCount{"Set", "setsws", "3", 6};
inline constexpr SettingKey kUnifiedDecimalPlaces{"Set", "setsss", "No", 6};
inline constexpr SettingKey kUnifiedFlicker{"Set", "FCC", "0", 1};
inline constexpr std::array<SettingKey, kLineCount> kFlicker{{
    {"Set", "FCC1", "0", 1},
    {"Set", "FCC2", "0", 1},
    {"Set", "FCC3", "0", 1},
    {"Set", "FCC4", "0", 1},
    {"Set", "FCC5", "0", 1},
    {"Set", "FCC6", "0", 1},
}};
inline constexpr SettingKey kUnifiedPoint{"Set", "PLL", "0", 1};
inline constexpr std::array<SettingKey, kLineCount> kPoint{{
    {"Set", "PLL1", "0", 1},
    {"Set", "PLL2", "0", 1},
    {"Set", "PLL3", "0", 1},
    {"Set", "PLL4", "0", 1},
    {"Set", "PLL5", "0", 1},
    {"Set", "PLL6", "0", 1},
}};
inline constexpr SettingKey kUpdateTime{"Set", "UIN", "Now", 5};
inline constexpr SettingKey kBusAddress{"Set", "ADD485", "01", 2};
inline constexpr SettingKey kControllerIp{"Set", "LEDIP", "0", 19};
inline constexpr std::array<SettingKey, kLineCount> kLineChosen{{
    {"Text", "Text1", "Yes", 3},
    {"Text", "Text2", "Yes", 3},
    {"Text", "Text3", "Yes", 3},
    {"Text", "Text4", "Yes", 3},
    {"Text", "Text5", "Yes", 3},
    {"Text", "Text6", "Yes", 3},
}};
inline constexpr std::array<SettingKey, kLineCount> kLineText{{
    {"TextData", "TD1", "", 9},
    {"TextData", "TD2", "", 9},
    {"TextData", "TD3", "", 9},
    {"TextData", "TD4", "", 9},
    {"TextData", "TD5", "", 9},
    {"TextData", "TD6", "", 9},
}};
inline constexpr std::array<SettingKey, kLineCount> kCaption{{
    {"TextBT", "TB1", "", 29},
    {"TextBT", "TB2", "", 29},
    {"TextBT", "TB3", "", 29},
    {"TextBT", "TB4", "", 29},
    {"TextBT", "TB5", "", 29},
    {"TextBT", "TB6", "", 29},
}};
inline constexpr SettingKey kSerialPort{"Port", "Port", "", kPortNameChars};
inline constexpr SettingKey kBaudRate{"Port", "Boud", "9600", 5};
inline constexpr SettingKey kDayBrightness{"LD", "LD", "5", 1};
inline constexpr SettingKey kNightBrightness{"LD", "LD2", "5", 1};

// The values the dialog stores for a line chosen or not ("Text1".."Text6")
// and for separate or unified formats ("Set").
inline constexpr std::string_view kChosen = "Yes";
inline constexpr std::string_view kNotChosen = "No";
inline constexpr std::string_view kSeparateMode = "1";
inline constexpr std::string_view kUnifiedMode = "2";

// Readers that use another default than the key's own.
// The line editors read the digit count with this default and take its
// leading digit.
inline constexpr std::string_view kEditorDigitCountFallback = "3位";
// The brightness sliders compare with the stored level read with a default
// outside their range, so a missing key never equals a position.
inline constexpr std::string_view kSliderCompareFallback = "8";

} // namespace keys

// Every key above, once, for tools and tests that walk the whole table.
std::span<const SettingKey> AllSettingKeys();

// The settings file at a fixed path, read and written one key at a time.
// Nothing is cached: every read sees the last write.
class SettingsFile {
public:
    explicit SettingsFile(std::filesystem::path path) : path_(std::move(path)) {}

    const std::filesystem::path& path() const { return path_; }

    // The key's value cut to its characters; its own default when missing.
    std::string Read(const SettingKey& key) const;
    // The same with a reader's own default.
    std::string Read(const SettingKey& key, std::string_view fallback) const;
    // The key's value converted by its leading sign and digits (0 when none).
    std::int32_t ReadNumber(const SettingKey& key) const;
    // Stores the value; false when the file could not be written.
    bool Write(const SettingKey& key, std::string_view value) const;
    // The same, saying what became of it (see StoreSetting). After a write
    // that found the file's lock held for the whole wait, the next writes
    // through this SettingsFile try the lock once without waiting, until one
    // gets through.
    WriteOutcome Store(const SettingKey& key, std::string_view value) const;
    // True from a write that found the lock held until one that got it.
    bool lock_held() const { return lock_held_; }

    // While one lives, the reads through this SettingsFile are answered from
    // a single reading of the file, taken again after every write through
    // it: a settings refresh reads the file a few times rather than once per
    // key, and still sees each of its own writes. A change another program
    // makes meanwhile is seen from the next write or Snapshot on. A
    // SettingsFile that holds a Snapshot belongs to one thread; threads that
    // share a file each use a SettingsFile of their own.
    class Snapshot {
    public:
        explicit Snapshot(const SettingsFile& file) : file_(file) { ++file_.snapshots_; }
        ~Snapshot() {
            if (--file_.snapshots_ == 0) {
                file_.held_.reset();
            }
        }
        Snapshot(const Snapshot&) = delete;
        Snapshot& operator=(const Snapshot&) = delete;

    private:
        const SettingsFile& file_;
    };

private:
    std::filesystem::path path_;
    // The decoded text a Snapshot holds (empty when the file is unreadable).
    mutable std::optional<std::string> held_;
    mutable int snapshots_ = 0;
    mutable bool lock_held_ = false;
};

// The number at the start of a text the way the legacy runtime converts it:
// leading blanks skipped, an optional sign, then decimal digits up to the
// first other character; no digits give 0. Values beyond 32 bits saturate.
std::int32_t LeadingNumber(std::string_view text);

// The value of a text's first character when it is a digit, else 0
// ("3" -> 3, "3位" -> 3, "No" -> 0, "" -> 0).
int FirstDigitValue(std::string_view text);

} // namespace lumidex
