#include "boards/board_store.h"

#include "settings/profile.h"

#include <algorithm>

namespace lumidex {
namespace {

constexpr SettingKey kPendingContent{"Pending", "content", "0", 1};
constexpr SettingKey kPendingBrightness{"Pending", "brightness", "0", 1};

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
    for (const Command command : {Command::Content, Command::Brightness}) {
        if (pending.ReadNumber(PendingKey(command)) != 0) {
            owed_.Add(command);
        }
    }
}

void BoardStore::Mark(Command command, bool owed) {
    if (!Remembered(command) || owed_.Has(command) == owed) {
        return;
    }
    if (SettingsFile(pending_).Write(PendingKey(command), owed ? "1" : "0")) {
        owed ? owed_.Add(command) : owed_.Remove(command);
    }
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
    for (const Command command : kCommands) {
        if (owed.Has(command)) {
            Mark(command, true);
        }
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

bool BoardStore::Flush(std::chrono::milliseconds lock_wait) {
    std::lock_guard lock(mutex_);
    return StoreWaiting(lock_wait);
}

void BoardStore::Settle(Command command) {
    std::lock_guard lock(mutex_);
    Mark(command, false);
}

Commands BoardStore::Owed() const {
    std::lock_guard lock(mutex_);
    return owed_;
}

} // namespace lumidex
