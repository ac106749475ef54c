#include "boards/board_store.h"

#include "boards/time_zone.h"
#include "settings/profile.h"

#include <algorithm>
#include <array>

namespace lumidex {
namespace {

constexpr SettingKey kPendingContent{"Pending", "content", "0", 1};
constexpr SettingKey kPendingBrightness{"Pending", "brightness", "0", 1};
// What the board showed: "known" says whether anything is, the lines and
// brightness are as their Config.ini keys hold them.
constexpr SettingKey kShownKnown{"Shown", "known", "0", 1};
constexpr std::array<SettingKey, kLineCount> kShownLines{{{"Shown", "line1", "", 255},
                                                          {"Shown", "line2", "", 255},
                                                          {"Shown", "line3", "", 255},
                                                          {"Shown", "line4", "", 255},
                                                          {"Shown", "line5", "", 255},
                                                          {"Shown", "line6", "", 255}}};
constexpr SettingKey kShownDay{"Shown", "day", "", 8};
// When each line's last value arrived (UTC, "2026-12-09T12:00:00Z"), for the
// stale guard.
constexpr std::array<SettingKey, kLineCount> kFreshLines{{{"Fresh", "line1", "", 32},
                                                          {"Fresh", "line2", "", 32},
                                                          {"Fresh", "line3", "", 32},
                                                          {"Fresh", "line4", "", 32},
                                                          {"Fresh", "line5", "", 32},
                                                          {"Fresh", "line6", "", 32}}};
constexpr SettingKey kShownNight{"Shown", "night", "", 8};

std::filesystem::path PendingFile(const std::filesystem::path& settings) {
    return settings.parent_path() / ("." + settings.filename().string() + ".pending");
}

const SettingKey& PendingKey(Command command) {
    return command == Command::Content ? kPendingContent : kPendingBrightness;
}

bool Remembered(Command command) {
    return command == Command::Content || command == Command::Brightness;
}

} // namespace

BoardStore::BoardStore(std::filesystem::path settings)
    : settings_(std::move(settings)), pending_(PendingFile(settings_)) {
    const SettingsFile pending(pending_);
    const SettingsFile::Snapshot once(pending);
    for (const Command command : {Command::Content, Command::Brightness}) {
        if (pending.ReadNumber(PendingKey(command)) != 0) {
            owed_.Add(command);
        }
    }
    if (pending.ReadNumber(kShownKnown) != 0) {
        BoardShown shown;
        for (std::size_t i = 0; i < kLineCount; ++i) {
            shown.lines[i] = pending.Read(kShownLines[i]);
        }
        shown.day = pending.Read(kShownDay);
        shown.night = pending.Read(kShownNight);
        shown_ = std::move(shown);
    }
    for (std::size_t i = 0; i < kLineCount; ++i) {
        fresh_[i] = ParseIsoUtc(pending.Read(kFreshLines[i]));
    }
}

void BoardStore::WritePending() {
    std::vector<std::string> values;
    std::vector<SettingWrite> writes;
    const auto add = [&](const SettingKey& key, std::string value) {
        values.push_back(std::move(value));
        writes.push_back({key.section, key.name, {}});
    };
    values.reserve(4 + 2 * kLineCount);
    add(kPendingContent, owed_.Has(Command::Content) ? "1" : "0");
    add(kPendingBrightness, owed_.Has(Command::Brightness) ? "1" : "0");
    if (shown_) {
        add(kShownKnown, "1");
        for (std::size_t i = 0; i < kLineCount; ++i) {
            add(kShownLines[i], shown_->lines[i]);
        }
        add(kShownDay, shown_->day);
        add(kShownNight, shown_->night);
    }
    for (std::size_t i = 0; i < kLineCount; ++i) {
        add(kFreshLines[i], fresh_[i] ? IsoUtc(*fresh_[i]) : std::string());
    }
    for (std::size_t i = 0; i < writes.size(); ++i) {
        writes[i].value = values[i];
    }
    StoreSettings(pending_, writes, kSettingsLockWait);
}

bool BoardStore::StoreWaiting(std::chrono::milliseconds lock_wait) {
    if (waiting_.empty()) {
        return true;
    }
    std::vector<SettingWrite> all;
    all.reserve(waiting_.size());
    for (const auto& [key, value] : waiting_) {
        all.push_back({key.section, key.name, value});
    }
    if (StoreSettings(settings_, all, lock_wait) == WriteOutcome::Locked) {
        return false;
    }
    waiting_.clear();
    return true;
}

bool BoardStore::Take(Commands owed, SettingWrites writes, std::chrono::milliseconds lock_wait) {
    std::lock_guard lock(mutex_);
    // Marked before the values are stored: a kill in between leaves a mark
    // too many, never a stored value the board is not sent.
    bool marked = false;
    for (const Command command : {Command::Content, Command::Brightness}) {
        if (owed.Has(command) && !owed_.Has(command)) {
            owed_.Add(command);
            marked = true;
        }
    }
    if (marked) {
        WritePending();
    }
    for (auto& write : writes) {
        std::erase_if(waiting_, [&](const auto& waiting) {
            return waiting.first.section == write.first.section &&
                   waiting.first.name == write.first.name;
        });
        waiting_.push_back(std::move(write));
    }
    return StoreWaiting(lock_wait);
}

SettingWrites BoardStore::Waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

bool BoardStore::Flush(std::chrono::milliseconds lock_wait) {
    std::lock_guard lock(mutex_);
    return StoreWaiting(lock_wait);
}

void BoardStore::Accepted(Command command, const BoardShown& shown, bool settled) {
    std::lock_guard lock(mutex_);
    const bool settles = settled && Remembered(command) && owed_.Has(command);
    if (!settles && shown_ == shown) {
        return;
    }
    if (settles) {
        owed_.Remove(command);
    }
    shown_ = shown;
    WritePending();
}

std::optional<BoardShown> BoardStore::Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

void BoardStore::RememberShown(const BoardShown& shown) {
    std::lock_guard lock(mutex_);
    shown_ = shown;
    WritePending();
}

BoardStore::FreshTimes BoardStore::Fresh() const {
    std::lock_guard lock(mutex_);
    return fresh_;
}

void BoardStore::NoteFresh(const FreshTimes& times) {
    std::lock_guard lock(mutex_);
    bool changed = false;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        if (times[i] && times[i] != fresh_[i]) {
            fresh_[i] = times[i];
            changed = true;
        }
    }
    if (changed) {
        WritePending();
    }
}

Commands BoardStore::Owed() const {
    std::lock_guard lock(mutex_);
    return owed_;
}

} // namespace lumidex
