#pragma once

// What a board's files hold for the service: the values in its Config.ini
// (the file the dialog prepared), and, remembered beside it
// (".NAME.pending", written durably like the settings), what the board has
// not yet accepted, so that a restart, or a start after a kill, sends it,
// and what the board showed when it last accepted a frame, so that a
// restart never claims it shows values it never took.
#include "boards/board_view.h"
#include "delivery/delivery.h"
#include "settings/keys.h"

#include <array>
#include <chrono>
#include <optional>
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
    // The writes still waiting for the file's lock, oldest first.
    SettingWrites Waiting() const;
    // The board took the content or the brightness and shows `shown` now:
    // that is kept, and, when `settled` (no newer change came meanwhile),
    // the command is no longer owed. One durable write, none when nothing
    // changes.
    void Accepted(Command command, const BoardShown& shown, bool settled);
    // What the board owes, as the pending file says.
    Commands Owed() const;
    // What the board showed when it last accepted a frame; nothing when the
    // service never saw it accept one.
    std::optional<BoardShown> Shown() const;
    // Keeps `shown` as what the board shows (when nothing is known yet, the
    // board is taken to show what its Config.ini held at the first start).
    void RememberShown(const BoardShown& shown);
    // When each line's last value arrived, for the stale guard (nothing:
    // none since the guard began). Kept in the pending file, written with
    // the next durable write of it (NoteFresh's, Take's or Accepted's).
    using FreshTimes = std::array<std::optional<std::chrono::sys_seconds>, kLineCount>;
    FreshTimes Fresh() const;
    // Notes the times of the lines given and writes the pending file.
    void NoteFresh(const FreshTimes& times);

private:
    // Writes the marks and what the board shows, as they are now, to the
    // pending file in one durable write.
    void WritePending();
    bool StoreWaiting(std::chrono::milliseconds lock_wait);

    std::filesystem::path settings_;
    std::filesystem::path pending_;
    mutable std::mutex mutex_;
    SettingWrites waiting_;
    Commands owed_;
    std::optional<BoardShown> shown_;
    FreshTimes fresh_;
};

} // namespace lumidex
