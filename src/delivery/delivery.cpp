#include "delivery/delivery.h"

#include "lines/line_format.h"
#include "link/address.h"
#include "protocol/local_time.h"

#include <algorithm>

namespace lumidex {
namespace {

// The dialog retries a content send once; commands go once.
constexpr int kContentAttempts = 2;
constexpr int kCommandAttempts = 1;

template <class... Ts> struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

// The dialog's lines as a settings refresh leaves them, with the edits
// applied the way the dialog applies typed input.
DialogLines LinesWithEdits(const ContentEdits& edits, const SettingsFile& settings,
                           const std::array<LineFormat, kLineCount>& formats) {
    DialogLines lines = LinesAfterRefresh(settings);
    for (int line = 1; line <= kLineCount; ++line) {
        const auto i = static_cast<std::size_t>(line - 1);
        if (auto typed = edits.typed.find(line); typed != edits.typed.end()) {
            lines.texts[i] = FormatTypedLine(typed->second, formats[i]).value_or("");
        }
        if (auto f = edits.flicker.find(line); f != edits.flicker.end()) {
            lines.flicker[i] = f->second;
        }
        if (auto p = edits.point.find(line); p != edits.point.end()) {
            lines.point[i] = p->second;
        }
    }
    if (edits.update_index) {
        lines.update_index = *edits.update_index;
    }
    return lines;
}

} // namespace

ContentFrameResult BuildContentFromSettings(const ContentEdits& edits,
                                            const SettingsFile& settings) {
    // Every key of the frame from one reading of the file.
    const SettingsFile::Snapshot snapshot(settings);
    // In unified mode the dialog's refresh first copies the unified format
    // into every line; the frame is built from the same result.
    const auto formats = LineFormatsAfterRefresh(settings);
    std::array<std::string, kLineCount> digit_counts;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        digit_counts[i] = formats[i].numbers;
    }
    return BuildContentFrame(LinesWithEdits(edits, settings, formats), settings, digit_counts);
}

std::string_view CommandName(Command command) {
    switch (command) {
    case Command::Init:
        return "init";
    case Command::Brightness:
        return "brightness";
    case Command::Clock:
        return "clock";
    case Command::Content:
        break;
    }
    return "content";
}

std::optional<Command> Commands::First() const {
    for (const Command command : kCommands) {
        if (Has(command)) {
            return command;
        }
    }
    return std::nullopt;
}

Command CommandOf(const BoardCommand& command) {
    return std::visit(Overloaded{
                          [](const ContentCommand&) { return Command::Content; },
                          [](const BrightnessCommand&) { return Command::Brightness; },
                          [](const ClockCommand&) { return Command::Clock; },
                          [](const InitialiseCommand&) { return Command::Init; },
                      },
                      command);
}

ContentFrameResult BuildCommandFrame(const BoardCommand& command, const SettingsFile& settings) {
    return std::visit(
        Overloaded{
            [&](const ContentCommand& content) {
                if (const auto* shown = std::get_if<DialogLines>(&content.lines)) {
                    return BuildContentFrame(*shown, settings);
                }
                return BuildContentFromSettings(std::get<ContentEdits>(content.lines), settings);
            },
            [&](const BrightnessCommand&) {
                return ContentFrameResult{BuildBrightnessFrame(settings), {}};
            },
            [&](const ClockCommand& clock) {
                return ContentFrameResult{
                    BuildClockFrame(settings, clock.time.value_or(LocalTimeNow())), {}};
            },
            [](const InitialiseCommand&) { return ContentFrameResult{BuildInitialiseFrame(), {}}; },
        },
        command);
}

DeliveryOutcome OutcomeOf(const ExchangeResult& result, std::uint8_t bus_address) {
    switch (result.outcome) {
    case ExchangeOutcome::Accepted:
        return DeliveryOutcome::Accepted;
    case ExchangeOutcome::Rejected:
        return DeliveryOutcome::Rejected;
    case ExchangeOutcome::NoAnswer:
        // At bus address 0 every controller takes the frame and none is
        // expected to answer: a frame that went out is all there is to know.
        return bus_address == 0 ? DeliveryOutcome::BroadcastSent : DeliveryOutcome::NoAnswer;
    case ExchangeOutcome::LinkFailed:
        break;
    }
    return DeliveryOutcome::LinkFailed;
}

std::string_view OutcomeName(DeliveryOutcome outcome) {
    switch (outcome) {
    case DeliveryOutcome::Accepted:
        return "accepted";
    case DeliveryOutcome::BroadcastSent:
        return "broadcast sent";
    case DeliveryOutcome::Rejected:
        return "rejected";
    case DeliveryOutcome::NoAnswer:
        return "no answer";
    case DeliveryOutcome::LinkFailed:
        return "link failed";
    case DeliveryOutcome::Refused:
        break;
    }
    return "refused";
}

const char* SendResultText(DeliveryOutcome outcome, std::uint8_t bus_address) {
    if (outcome == DeliveryOutcome::Accepted) {
        return "Sent successfully!";
    }
    const bool went_out =
        outcome == DeliveryOutcome::BroadcastSent || outcome == DeliveryOutcome::Rejected;
    return bus_address == 0 && went_out ? "Broadcast Send." : "Send failed!";
}

Delivery DeliverFrame(Frame frame, bool content, std::span<const LinkTarget> targets,
                      const DeliveryOptions& options) {
    Delivery delivery;
    delivery.bus_address = frame.size() > 2 ? frame[2] : 0;
    delivery.frame = std::move(frame);
    delivery.outcome = DeliveryOutcome::Accepted;
    const int attempts = content ? kContentAttempts : kCommandAttempts;
    for (const LinkTarget& target : targets) {
        const auto link = options.make_link ? options.make_link(target)
                                            : MakeLink(target, options.on_sockets_failure);
        const ExchangeTiming timing = options.timing ? options.timing(target) : TimingOf(target);
        LinkDelivery done{target, Exchange(*link, delivery.frame, timing, attempts)};
        done.outcome = OutcomeOf(done.exchange, delivery.bus_address);
        if (done.outcome > delivery.outcome) {
            delivery.outcome = done.outcome;
            delivery.reason = done.exchange.reason;
        }
        delivery.links.push_back(std::move(done));
    }
    if (targets.empty()) {
        delivery.outcome = DeliveryOutcome::LinkFailed;
        delivery.reason = "no link to send over";
    }
    return delivery;
}

Delivery Deliver(const BoardCommand& command, const SettingsFile& settings,
                 std::span<const LinkTarget> targets, const DeliveryOptions& options) {
    ContentFrameResult built = BuildCommandFrame(command, settings);
    if (!built.frame) {
        Delivery refused;
        refused.bus_address = ReadBusAddress(settings);
        refused.reason = std::move(built.refusal);
        return refused;
    }
    return DeliverFrame(std::move(*built.frame), std::holds_alternative<ContentCommand>(command),
                        targets, options);
}

std::optional<UdpTarget> ConfiguredUdpTarget(const SettingsFile& settings) {
    const std::uint32_t address = AddressFromStored(settings.ReadNumber(keys::kControllerIp));
    if (address == 0) {
        return std::nullopt;
    }
    return UdpTarget{FormatDottedAddress(address)};
}

std::optional<SerialTarget> ConfiguredSerialTarget(const SettingsFile& settings,
                                                   std::optional<int> baud) {
    std::string port = settings.Read(keys::kSerialPort);
    if (port.empty()) {
        return std::nullopt;
    }
    return SerialTarget{std::move(port), baud.value_or(settings.ReadNumber(keys::kBaudRate))};
}

} // namespace lumidex
