#pragma once

// The one command path: a board command becomes a frame built from the
// board's settings, goes over the board's links with the exchange, and comes
// back as one Delivery. The dialog, lumidex-send and the board service all
// reach a board through Deliver, so "sent", "refused", "broadcast" and
// "failed" mean the same everywhere.
#include "link/exchange.h"
#include "protocol/content_frame.h"

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumidex {

// Changes on top of what the settings hold, applied the way the dialog
// applies an operator's input: a typed text (digits with at most one point)
// is brought into its line's format as the line editor does on losing the
// focus; flags and the update index replace the stored ones.
struct ContentEdits {
    std::map<int, std::string> typed; // line 1..6 -> the text as typed
    std::map<int, bool> flicker;
    std::map<int, bool> point;
    std::optional<int> update_index;
};

// The content frame as the dialog opened on `settings` would send it right
// after a settings refresh, with the edits applied (in unified mode with the
// unified digit counts and places, as the refresh copies them); the refusal
// of an over-long text as BuildContentFrame gives it. Reads the file once.
ContentFrameResult BuildContentFromSettings(const ContentEdits& edits,
                                            const SettingsFile& settings);

// What a frame to a board carries, one exchange each: the initialisation,
// the lines, the brightness, the clock (in the order a board's worker takes
// them when several wait).
enum class Command { Init, Content, Brightness, Clock };
inline constexpr std::array<Command, 4> kCommands{Command::Init, Command::Content,
                                                  Command::Brightness, Command::Clock};

// "init", "content", "brightness" or "clock".
std::string_view CommandName(Command command);

// A set of commands: what a change sends, what a board still owes.
class Commands {
public:
    Commands() = default;
    Commands(std::initializer_list<Command> commands) {
        for (const Command command : commands) {
            Add(command);
        }
    }
    void Add(Command command) { bits_ |= Bit(command); }
    void Remove(Command command) { bits_ &= static_cast<std::uint8_t>(~Bit(command)); }
    bool Has(Command command) const { return (bits_ & Bit(command)) != 0; }
    bool Empty() const { return bits_ == 0; }
    // The first of kCommands in the set; nothing for an empty set.
    std::optional<Command> First() const;
    Commands& operator|=(Commands other) {
        bits_ |= other.bits_;
        return *this;
    }
    bool operator==(const Commands&) const = default;

private:
    static std::uint8_t Bit(Command command) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(command));
    }
    std::uint8_t bits_ = 0;
};

// The commands with what they need to build their frames.
struct ContentCommand {
    // What the lines are: the window's own state (the dialog), or edits to
    // what a settings refresh shows (none: the lines as stored).
    std::variant<ContentEdits, DialogLines> lines;
};
struct BrightnessCommand {};
struct ClockCommand {
    std::optional<ClockTime> time; // nothing: the local time when it is built
};
struct InitialiseCommand {};
using BoardCommand = std::variant<ContentCommand, BrightnessCommand, ClockCommand, InitialiseCommand>;

// Which command it is.
Command CommandOf(const BoardCommand& command);

// The command's frame from the board's settings; for content the refusal
// when the frame would be too long (nothing is sent then).
ContentFrameResult BuildCommandFrame(const BoardCommand& command, const SettingsFile& settings);

// What became of a command, on one link or overall. Ordered from best to
// worst: the overall outcome of several links is the worst of theirs.
enum class DeliveryOutcome {
    Accepted,      // the controller answered byte 3 = 1
    BroadcastSent, // sent to bus address 0, where no controller answers, and none did
    Rejected,      // the controller answered and did not accept it, at any bus address
    NoAnswer,      // the frame went out to a controller's own address and none answered
    LinkFailed,    // the link could not carry the frame, at any bus address
    Refused,       // no frame: the command could not be built; nothing was sent
};

// The one broadcast rule: bus address 0 and no answer is a broadcast sent;
// everything else is what the exchange says.
DeliveryOutcome OutcomeOf(const ExchangeResult& result, std::uint8_t bus_address);

// The outcome as statuses and logs name it: "accepted", "broadcast sent",
// "rejected", "no answer", "link failed", "refused".
std::string_view OutcomeName(DeliveryOutcome outcome);

// The dialog's result text for a content send: "Sent successfully!" when
// accepted; "Broadcast Send." at bus address 0 when the frame went out and
// was not accepted (no answer, or an answer that refuses it); otherwise, and
// always when the link could not carry the frame, "Send failed!".
const char* SendResultText(DeliveryOutcome outcome, std::uint8_t bus_address);

struct LinkDelivery {
    LinkTarget target;
    ExchangeResult exchange;
    DeliveryOutcome outcome = DeliveryOutcome::LinkFailed;
};

struct Delivery {
    Frame frame;                  // what was sent; empty when refused
    std::uint8_t bus_address = 0; // byte 2 of the frame
    std::vector<LinkDelivery> links;
    DeliveryOutcome outcome = DeliveryOutcome::Refused; // the worst of the links'
    // Why it was not accepted: the refusal, or the reason of the link whose
    // outcome is the overall one; empty when accepted.
    std::string reason;
    // True when the board has what was sent: accepted, or a broadcast sent.
    bool delivered() const {
        return outcome == DeliveryOutcome::Accepted || outcome == DeliveryOutcome::BroadcastSent;
    }
};

// Makes the link to a target, not yet opened.
using LinkMaker = std::function<std::unique_ptr<Link>(const LinkTarget&)>;

struct DeliveryOptions {
    // Makes each target's link; MakeLink when empty (tests give fakes).
    LinkMaker make_link;
    // How each target's link waits for the answer; TimingOf when empty.
    std::function<ExchangeTiming(const LinkTarget&)> timing;
    // Called each time a UDP link cannot start the sockets library.
    std::function<void()> on_sockets_failure;
};

// Sends a built frame over every target in order, once per link, or twice
// when the first attempt is not accepted for content (as the dialog's send
// buttons retry), and reports each link and the worst of them. With no
// target the outcome is LinkFailed.
Delivery DeliverFrame(Frame frame, bool content, std::span<const LinkTarget> targets,
                      const DeliveryOptions& options = {});

// Builds the command's frame from the settings and delivers it.
Delivery Deliver(const BoardCommand& command, const SettingsFile& settings,
                 std::span<const LinkTarget> targets, const DeliveryOptions& options = {});

// The links a board's settings configure: the controller address ("LEDIP")
// when it is not 0.0.0.0, and the serial port ("Port") when one is chosen,
// at its stored baud rate ("Boud") unless another is given.
std::optional<UdpTarget> ConfiguredUdpTarget(const SettingsFile& settings);
std::optional<SerialTarget> ConfiguredSerialTarget(const SettingsFile& settings,
                                                   std::optional<int> baud = std::nullopt);

} // namespace lumidex
