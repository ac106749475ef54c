#pragma once

#include "delivery/delivery.h"

#include <filesystem>
#include <iosfwd>
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
    ContentEdits edits; // --line, --flicker, --point and --update
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

// Runs lumidex-send: builds the frame, prints it, sends it unless this is a
// dry run, and returns the exit status. Reasons go to `err` as one line.
int RunSend(const SendOptions& options, std::ostream& out, std::ostream& err);

// The usage text printed by --help.
std::string SendUsage();

} // namespace lumidex
