#pragma once

#include "lines/line_format.h"
#include "protocol/content_frame.h"

#include <filesystem>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumidex {

// Exit status of lumidex-send: accepted, dry run or a broadcast that went
// out; rejected or not answered; bad usage or input; the link could not be
// opened or written. With several links the highest one wins.
enum ExitStatus { kExitOk = 0, kExitNotAccepted = 1, kExitBadInput = 2, kExitLinkFailed = 3 };

// The command line of lumidex-send, parsed but not yet checked against the
// settings file.
struct SendOptions {
    std::optional<std::filesystem::path> config;
    std::optional<std::string> udp;
    std::optional<std::string> serial;
    std::optional<int> baud;
    std::map<int, std::string> lines; // line -> text as typed
    std::optional<int> update_index;
    std::map<int, bool> flicker;
    std::map<int, bool> point;
    std::optional<ClockTime> time;
    bool dry_run = false;
    bool help = false;
    bool version = false;
    std::string command; // content, brightness, clock or init
};

// Parses the arguments (without the program name). On bad usage returns
// nothing and puts a one-line reason into `error`.
std::optional<SendOptions> ParseSendOptions(const std::vector<std::string>& args,
                                            std::string& error);

// Parses "YYYY-MM-DD HH:MM:SS" into a valid local date and time with its
// weekday; nothing when the text is malformed or the date does not exist.
std::optional<ClockTime> ParseClockTime(const std::string& text);

// A line text typed as `typed` brought into line `line`'s format (1..6), as
// the dialog formats it when the editor loses the focus, with the formats a
// settings refresh leaves (LineFormatsAfterRefresh). Nothing when a
// fixed-point line is given the empty text (the editor stays empty).
std::optional<std::string> FormatTypedLine(const std::array<LineFormat, kLineCount>& formats,
                                           int line, std::string_view typed);

// The content frame as the dialog opened on `settings` would send it after a
// settings refresh, with the command line's lines, flags and update time
// applied; the refusal of an over-long text as BuildContentFrame gives it.
ContentFrameResult BuildContentFromSettings(const SendOptions& options,
                                            const SettingsFile& settings);

// Runs lumidex-send: builds the frame, prints it, sends it unless this is a
// dry run, and returns the exit status. Reasons go to `err` as one line.
int RunSend(const SendOptions& options, std::ostream& out, std::ostream& err);

// The usage text printed by --help.
std::string SendUsage();

} // namespace lumidex
