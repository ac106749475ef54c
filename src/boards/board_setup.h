#pragma once

// A board's set-up as the dialog's password panel holds it (the controller
// address, the bus address, the serial port and its baud rate, each line's
// caption, whether it is sent, its digit count and decimal places), with the
// two things the boards file says of it (its link and its groups): read
// from its Config.ini, changed field by field with every field checked, and
// written back under the keys the dialog writes, as the dialog writes them.
#include "boards/board_store.h"
#include "boards/boards_file.h"
#include "settings/keys.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace lumidex {

// One line's set-up: its caption ("TB1"..), whether it is sent ("Text1"..),
// and its format as a settings refresh leaves it ("wsv1".., "wsv6"..): a
// digit-count item "3".."8" and a places item "No" or "0".."4".
struct LineSetup {
    std::string caption;
    bool chosen = true;
    std::string digits;
    std::string places;
    bool operator==(const LineSetup&) const = default;
};

struct BoardSetup {
    std::uint32_t address = 0; // the controller's IPv4 address ("LEDIP")
    int bus = 1;               // the bus address ("ADD485"), 0..99
    BoardLink link = BoardLink::Udp;
    std::string port; // the serial port ("Port")
    int baud = 9600;  // its baud rate ("Boud")
    std::vector<std::string> groups;
    std::array<LineSetup, kLineCount> lines;
    bool operator==(const BoardSetup&) const = default;
};

// Any part of a set-up, as a door was given it; what is not given stays.
struct LineSetupChange {
    std::optional<std::string> caption;
    std::optional<bool> chosen;
    std::optional<int> digits;
    std::optional<std::string> places;
};
struct SetupChange {
    std::optional<std::uint32_t> address;
    std::optional<int> bus;
    std::optional<BoardLink> link;
    std::optional<std::string> port;
    std::optional<int> baud;
    std::optional<std::vector<std::string>> groups;
    std::array<LineSetupChange, kLineCount> lines;
};

// Why a set-up change was not made: what kind of refusal it is, one line,
// and the field at fault ("address", "lines.2.digits"; empty when none is).
struct SetupRefusal {
    enum class Kind {
        Invalid,  // a field's value is refused
        NoBoard,  // no board of that name
        Conflict, // the name is taken, or the last board cannot go
        Locked,   // another program holds a file the change must write
        Failed,   // a file could not be written
    };
    Kind kind = Kind::Invalid;
    std::string error;
    std::string field;
};

// What a board's Config.ini holds of its set-up (within a
// SettingsFile::Snapshot of the caller, from that one reading); the link
// and groups are the boards file's.
BoardSetup ReadBoardSetup(const SettingsFile& settings, BoardLink link,
                          std::vector<std::string> groups);

// The set-up after the change, every field checked: the controller address
// (a UDP board needs one), bus 0..99, the port (a serial board needs one)
// and its baud rate (one of the dialog's), group names (topic names, each
// once), captions of at most the characters the dialog keeps and no control
// characters, digit counts 3..8, places "No" or "0".."4", and more digits
// than decimal places. The refusal names the first field at fault.
std::variant<BoardSetup, SetupRefusal> ApplySetupChange(const BoardSetup& now,
                                                        const SetupChange& change);

// The keys of the Config.ini to store for going from `before` to `after`,
// in the dialog's form: the address as its whole number, the bus address as
// two digits, "Yes"/"No" for a line sent or not, the list items for a
// format. A changed format also switches unified formats ("Set" 2) to
// separate ones, every line keeping the format it had, and brings each
// stored line text into its line's new format as the line's editor does;
// a stored text the new format cannot show refuses the change (field
// "lines.N.digits", or ".places" when only the places changed), so no value
// is cut or sent in a format that does not hold it.
std::variant<SettingWrites, SetupRefusal>
SetupWrites(const SettingsFile& settings, const BoardSetup& before, const BoardSetup& after);

// "udp" or "serial".
std::string_view LinkName(BoardLink link);

} // namespace lumidex
