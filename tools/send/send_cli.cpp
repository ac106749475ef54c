#include "tools/send/send_cli.h"

#include "link/address.h"
#include "protocol/local_time.h"
#include "settings/file_io.h"
#include "settings/location.h"
#include "cli/cli.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <ostream>

namespace lumidex {
namespace {

// The exit status of a delivery's outcome: a broadcast that went out counts
// as sent; a refusal counts as not accepted at any bus address; a link that
// could not carry the frame never counts as sent.
int ExitStatusFor(DeliveryOutcome outcome) {
    switch (outcome) {
    case DeliveryOutcome::Accepted:
    case DeliveryOutcome::BroadcastSent:
        return kExitOk;
    case DeliveryOutcome::Rejected:
    case DeliveryOutcome::NoAnswer:
        return kExitNotAccepted;
    case DeliveryOutcome::LinkFailed:
        return kExitLinkFailed;
    case DeliveryOutcome::Refused:
        break;
    }
    return kExitBadInput;
}

bool ParseInt(std::string_view text, int& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// What an operator can type into a line editor: digits with at most one
// point, not at the start (empty clears the line). Its length is cut by the
// formatting, as when the editor loses the focus.
bool IsTypableLineText(std::string_view text) {
    if (text.starts_with('.') || std::count(text.begin(), text.end(), '.') > 1) {
        return false;
    }
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// "N=VALUE" with N a line number 1..6.
bool ParseLineAssignment(std::string_view text, int& line, std::string& value, std::string& error) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || !ParseInt(text.substr(0, equals), line)) {
        error = "expected N=VALUE with a line number N, got '" + std::string(text) + "'";
        return false;
    }
    if (line < 1 || line > kLineCount) {
        error = "unknown line number " + std::string(text.substr(0, equals)) + "; lines are 1..6";
        return false;
    }
    value = std::string(text.substr(equals + 1));
    return true;
}

bool ParseFlag(std::string_view text, std::map<int, bool>& flags, std::string& error) {
    int line = 0;
    std::string value;
    if (!ParseLineAssignment(text, line, value, error)) {
        return false;
    }
    if (value != "0" && value != "1") {
        error = "flag of line " + std::to_string(line) + " must be 0 or 1, got '" + value + "'";
        return false;
    }
    flags[line] = value == "1";
    return true;
}

// The links named on the command line, or else the ones the settings
// configure: the controller address when it is not 0.0.0.0, and the serial
// port when one is chosen.
std::vector<LinkTarget> ChooseLinks(const SendOptions& options, const SettingsFile& settings) {
    const int baud = options.baud.value_or(settings.ReadNumber(keys::kBaudRate));
    std::vector<LinkTarget> links;
    if (options.udp) {
        links.push_back(UdpTarget{*options.udp});
    }
    if (options.serial) {
        links.push_back(SerialTarget{*options.serial, baud});
    }
    if (!links.empty()) {
        return links;
    }
    if (auto udp = ConfiguredUdpTarget(settings)) {
        links.push_back(*udp);
    }
    if (auto serial = ConfiguredSerialTarget(settings, options.baud)) {
        links.push_back(*serial);
    }
    return links;
}

} // namespace

std::optional<SendOptions> ParseSendOptions(const std::vector<std::string>& args,
                                            std::string& error) {
    SendOptions options;
    CLI::App parser("lumidex-send");
    ConfigureToolParser(parser);
    std::string config, udp, serial, baud, update, time;
    std::vector<std::string> lines, flickers, points, commands;
    AddFlag(parser, "-h,--help", options.help);
    AddFlag(parser, "--version", options.version);
    AddFlag(parser, "--dry-run", options.dry_run);
    const auto* config_given = AddSingle(parser, "--config", config);
    const auto* udp_given = AddSingle(parser, "--udp", udp);
    const auto* serial_given = AddSingle(parser, "--serial", serial);
    const auto* baud_given = AddSingle(parser, "--baud", baud);
    const auto* update_given = AddSingle(parser, "--update", update);
    const auto* time_given = AddSingle(parser, "--time", time);
    AddRepeated(parser, "--line", lines);
    AddRepeated(parser, "--flicker", flickers);
    AddRepeated(parser, "--point", points);
    parser.add_option("command", commands)->allow_extra_args(true);
    if (auto refused = ParseArguments(parser, args)) {
        error = *refused;
        return std::nullopt;
    }
    if (Given(config_given)) {
        options.config = config;
    }
    if (Given(udp_given)) {
        if (!ParseDottedAddress(udp)) {
            error = "--udp wants a dotted IPv4 address (four numbers 0..255 without leading "
                    "zeros), got '" + udp + "'";
            return std::nullopt;
        }
        options.udp = udp;
    }
    if (Given(serial_given)) {
        if (serial.empty()) {
            error = "--serial wants a port name";
            return std::nullopt;
        }
        options.serial = serial;
    }
    if (Given(baud_given)) {
        int value = 0;
        if (!ParseInt(baud, value) ||
            std::find(kBaudRates.begin(), kBaudRates.end(), value) == kBaudRates.end()) {
            error = "--baud wants 9600 or 57600, got '" + baud + "'";
            return std::nullopt;
        }
        options.baud = value;
    }
    for (const std::string& assignment : lines) {
        int line = 0;
        std::string text;
        if (!ParseLineAssignment(assignment, line, text, error)) {
            return std::nullopt;
        }
        if (!IsTypableLineText(text)) {
            error = "line " + std::to_string(line) + " takes digits with at most one point, " +
                    "not at the start, as its editor does; got '" + text + "'";
            return std::nullopt;
        }
        options.edits.typed[line] = text;
    }
    if (Given(update_given)) {
        options.edits.update_index = UpdateIndexFromText(update);
        if (!options.edits.update_index) {
            error = "--update wants Now or a whole hour HH:00, got '" + update + "'";
            return std::nullopt;
        }
    }
    for (const std::string& flag : flickers) {
        if (!ParseFlag(flag, options.edits.flicker, error)) {
            return std::nullopt;
        }
    }
    for (const std::string& flag : points) {
        if (!ParseFlag(flag, options.edits.point, error)) {
            return std::nullopt;
        }
    }
    if (Given(time_given)) {
        options.time = ParseClockTime(time);
        if (!options.time) {
            error = "--time wants \"YYYY-MM-DD HH:MM:SS\" (a real date, 2000..2255), got '" +
                    time + "'";
            return std::nullopt;
        }
    }
    if (commands.size() > 1) {
        error = "more than one command given";
        return std::nullopt;
    }
    if (!commands.empty()) {
        const std::string& command = commands.front();
        if (command != "content" && command != "brightness" && command != "clock" &&
            command != "init") {
            error = "unknown command '" + command + "'; use content, brightness, clock or init";
            return std::nullopt;
        }
        options.command = command;
    }
    if (options.command.empty() && !options.help && !options.version) {
        error = "no command given; use content, brightness, clock or init (see --help)";
        return std::nullopt;
    }
    return options;
}

namespace {

int RunSendUnchecked(const SendOptions& options, std::ostream& out, std::ostream& err) {
    if (options.help) {
        out << SendUsage();
        return kExitOk;
    }
    if (options.version) {
        out << VersionText("lumidex-send");
        return kExitOk;
    }
    // Without --config the file is the one the dialog of this copy uses.
    const std::filesystem::path config = options.config.value_or(
        ChooseSettingsLocation(CurrentSettingsInputs(ExecutableDirectory())).file);
    // Root never acts on a file another user could have written (its port
    // would make root write a frame into any terminal); an ordinary user
    // hears once that the file is only read.
    const SettingsFileCheck check = CheckSettingsFile(config);
    if (check.access == SettingsAccess::NotTrusted) {
        err << "lumidex-send: not using " << Printable(config.string()) << ": "
            << Printable(check.reason) << "\n";
        return kExitBadInput;
    }
    if (check.access == SettingsAccess::ReadOnly) {
        err << "lumidex-send: " << Printable(config.string())
            << " is used read-only: " << Printable(check.reason) << "\n";
    }
    // A file named on the command line must be read; so must the default
    // one when it is there (another program keeping it locked, say): the
    // frame would otherwise go out built from defaults.
    std::error_code ec;
    if (options.config || std::filesystem::exists(config, ec)) {
        std::string why;
        if (!ReadWholeFile(config, &why)) {
            err << "lumidex-send: cannot read " << Printable(config.string()) << ": "
                << Printable(why) << "\n";
            return kExitBadInput;
        }
    }
    const SettingsFile settings(config);
    BoardCommand command = ContentCommand{options.edits};
    if (options.command == "brightness") {
        command = BrightnessCommand{};
    } else if (options.command == "clock") {
        command = ClockCommand{options.time};
    } else if (options.command == "init") {
        command = InitialiseCommand{};
    }
    ContentFrameResult built = BuildCommandFrame(command, settings);
    if (!built.frame) {
        err << "lumidex-send: refused: " << Printable(built.refusal) << "\n";
        return kExitBadInput;
    }
    // A hand-written dotted address would send to another controller than
    // the one meant: said, not sent, when the settings' address is used.
    if (!options.dry_run && !options.udp && !options.serial) {
        if (const auto problem = StoredAddressProblem(settings.Read(keys::kControllerIp))) {
            err << "lumidex-send: " << Printable(config.string()) << ": " << Printable(*problem)
                << "\n";
            return kExitBadInput;
        }
    }
    const std::vector<LinkTarget> links = ChooseLinks(options, settings);
    if (links.empty() && !options.dry_run) {
        err << "lumidex-send: no link to send over; give --udp or --serial, or set the "
               "controller address or serial port in the dialog\n";
        return kExitBadInput;
    }
    out << FormatHex(*built.frame) << "\n" << std::flush;
    if (options.dry_run || !out) {
        return kExitOk; // a failed output is reported by RunSend
    }
    const Delivery delivery = DeliverFrame(std::move(*built.frame),
                                           std::holds_alternative<ContentCommand>(command), links);
    for (const LinkDelivery& link : delivery.links) {
        out << SendResultText(link.outcome, delivery.bus_address) << "\n";
        if (link.outcome != DeliveryOutcome::Accepted) {
            err << "lumidex-send: " << Printable(DescribeTarget(link.target)) << ": "
                << (link.outcome == DeliveryOutcome::BroadcastSent
                        ? std::string("sent to bus address 0, where no controller answers")
                        : Printable(link.exchange.reason))
                << "\n";
        }
    }
    out << std::flush;
    return ExitStatusFor(delivery.outcome);
}

} // namespace

int RunSend(const SendOptions& options, std::ostream& out, std::ostream& err) {
    errno = 0;
    const int status = RunSendUnchecked(options, out, err);
    // A script that reads the frame or the result must learn that it could
    // not be written (a full disk, a closed pipe).
    if (!out.flush()) {
        const int code = errno;
        err << "lumidex-send: cannot write the output"
            << (code != 0 ? std::string(": ") + std::strerror(code) : std::string()) << "\n";
        return std::max(status, static_cast<int>(kExitBadInput));
    }
    return status;
}

std::string SendUsage() {
    return R"(Usage: lumidex-send [OPTIONS] content|brightness|clock|init

Builds a frame for the display's control card from Config.ini (the same file
the Lumidex dialog uses), prints it as hex and sends it.

Options:
  --config PATH          settings file (default: Config.ini beside this program;
                         when that folder cannot be written or this is an
                         installed copy, $XDG_CONFIG_HOME/lumidex/Config.ini,
                         by default ~/.config/lumidex/Config.ini)
  --udp IPV4             send over UDP to this controller address (port 10006)
  --serial PORT          send over this serial port
  --baud 9600|57600      serial baud rate (default: "Boud" from the settings)
  --line N=TEXT          text of line N (1..6), formatted like the dialog does
                         (in unified mode with the unified digit count and places)
  --update Now|HH:00     when the content shows (default: "UIN" from the settings)
  --flicker N=0|1        flicker flag of line N
  --point N=0|1          "9/10" flag of line N (a point after the last digit)
  --time "YYYY-MM-DD HH:MM:SS"
                         time for the clock command (default: now)
  --dry-run              print the frame only; send nothing
  --help                 show this text
  --version              show the version and the licence

Without --udp or --serial the frame goes over the links the settings hold:
the controller address (when it is not 0.0.0.0) and the serial port (when one
is chosen). Content is tried twice per link, commands once. After the hex line
one result per link: "Sent successfully!", "Send failed!" or, at bus address 0
where no controller answers, "Broadcast Send.".

Exit status:
  0  the controller accepted, a dry run, or a broadcast: sent to bus address
     0, where no controller answers, and none did
  1  the controller rejected the frame (at any bus address) or did not answer
  2  bad usage or bad input (one line on standard error)
  3  the link could not be opened or written (no such port, a port another
     program holds, a datagram that could not be sent); "Send failed!" even
     at bus address 0
With several links the highest of these is the exit status.
)";
}

} // namespace lumidex
