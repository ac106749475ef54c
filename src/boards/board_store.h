#pragma once

// What a board's files hold for the service: the values in its Config.ini
// (the file the dialog prepared), and what the board has not yet accepted,
// remembered beside it (".NAME.pending", written durably like the
// settings), so that a restart, or a start after a kill, sends it.
#include "delivery/delivery.h"
#include "settings/keys.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace lumidex {

using SettingWrites = std::vector<std::pair<SettingKey, std::string>>;

class BoardStore {
public:
    explicit BoardStore(std::filesystem::path settings);

    const std::filesystem::path& settings() const { return settings_; }

    // Takes a change: notes durably that the board owes what `owed` names
    // of the content and the brightness (the values the file holds), then
    // stores the writes after any still waiting, all with one replacement
    // of the file, within `lock_wait` of its lock. False when they wait
    // because another program of this user holds the lock; a later value
    // of a waiting key replaces it. Writes the file refuses for good (a
    // read-only file) are dropped: they would hold back every later one.
    bool Take(Commands owed, SettingWrites writes, std::chrono::milliseconds lock_wait);
    // Stores what still waits; false while another program holds the file.
    bool Flush(std::chrono::milliseconds lock_wait);
    // The board took the content or the brightness: no longer owed.
    void Settle(Command command);
    // What the board owes, as the pending file says.
    Commands Owed() const;

private:
    void Mark(Command command, bool owed);
    bool StoreWaiting(std::chrono::milliseconds lock_wait);

    std::filesystem::path settings_;
    std::filesystem::path pending_;
    mutable std::mutex mutex_;
    SettingWrites waiting_;
    Commands owed_;
};

} // namespace lumidex
