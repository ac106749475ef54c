#pragma once

// What the change record says of a board: the fields a change sets, with
// their values before and after it, and what the end of an exchange settles
// for the changes it carried. Pure rules; the service keeps the state.
#include "boards/board_rules.h"
#include "boards/board_view.h"
#include "boards/change_record.h"
#include "boards/status.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// A board's values as the record names them: "lines.N" (as stored),
// "flicker.N" and "point.N" (1 or 0), "update", "brightness.day",
// "brightness.night".
using FieldValues = std::map<std::string, std::string, std::less<>>;
FieldValues RecordedValues(const StoredView& stored);

// The record's field a setting holds; nothing for one it does not keep
// (formats, captions, the link).
std::optional<std::string> RecordedField(const SettingKey& key);

// The command that shows a field's change on the board.
Command CommandOfField(std::string_view field);

// The fields a change sets to something other than what `before` holds,
// each with its old and new value, and its clock ("clock": the time given,
// or "local time") and initialisation ("init"), which always count. Who,
// via and the request are the caller's to fill in.
std::vector<RecordedChange> FieldChanges(const std::string& board, const BoardChange& change,
                                         const FieldValues& before);

// The fields whose values in the board's file are no longer what the
// service last knew: changed under it (the dialog, an editor), via "file".
std::vector<RecordedChange> FileChanges(const std::string& board, const FieldValues& known,
                                        const FieldValues& now);

// A recorded change not yet ended: the exchange of `command` that carries
// it is one that began once the board had taken `generation` changes.
struct OpenChange {
    std::uint64_t seq = 0;
    std::string field;
    Command command = Command::Content;
    std::uint64_t generation = 0;
    bool noted = false; // a rejection or refusal is recorded once
};

// What an exchange of `command`, begun at `generation`, settles among the
// open changes: accepted, the latest of each field it carried is
// "accepted" ("broadcast sent" to bus address 0, where no card answers)
// and earlier ones of the field "superseded"; rejected or refused, each carried change
// says so once and stays open for the retry; a clock or an initialisation,
// which is never repeated, ends with whatever came of it. Retries that fail
// without an answer add nothing. Settled changes leave `open`.
std::vector<RecordedOutcome> Settle(std::vector<OpenChange>& open, const std::string& board,
                                    Command command, StatusResult result, std::uint64_t generation);

// The recorded changes no line ended, by board, as a start finds them in
// the record's `lines` (a crash came between a change and its outcome):
// of each field, those whose latest value the board's file (`values`) still
// holds, to be settled by the next exchange that carries them (the ones
// before the latest are superseded then). A clock, an initialisation or a
// stale line's look is not sent again and is not taken up.
std::map<std::string, std::vector<OpenChange>>
UnendedChanges(const std::vector<nlohmann::ordered_json>& lines,
               const std::map<std::string, FieldValues>& values);

} // namespace lumidex
