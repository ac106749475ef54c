#include "boards/board_setup.h"

#include "boards/board_rules.h"
#include "lines/line_format.h"
#include "link/address.h"
#include "link/serial_port.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <cstdio>

namespace lumidex {
namespace {

constexpr int kLargestBus = 99;

std::string LineField(std::size_t index, std::string_view what) {
    return "lines." + std::to_string(index + 1) + "." + std::string(what);
}

SetupRefusal Refused(std::string field, std::string error) {
    return {SetupRefusal::Kind::Invalid, std::move(error), std::move(field)};
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// A text a key keeps whole: valid UTF-8, no control characters, at most the
// key's characters.
std::optional<std::string> TextProblem(std::string_view text, const SettingKey& key) {
    if (!IsValidUtf8(text) || HasControlCharacter(text)) {
        return "no control characters";
    }
    if (CountCharacters(text) > key.chars) {
        return "at most " + std::to_string(key.chars) + " characters";
    }
    return std::nullopt;
}

} // namespace

std::string_view LinkName(BoardLink link) {
    return link == BoardLink::Serial ? "serial" : "udp";
}

BoardSetup ReadBoardSetup(const SettingsFile& settings, BoardLink link,
                          std::vector<std::string> groups) {
    const SettingsFile::Snapshot once(settings);
    BoardSetup setup;
    setup.address = AddressFromStored(settings.ReadNumber(keys::kControllerIp));
    setup.bus = settings.ReadNumber(keys::kBusAddress);
    setup.link = link;
    setup.port = settings.Read(keys::kSerialPort);
    setup.baud = settings.ReadNumber(keys::kBaudRate);
    setup.groups = std::move(groups);
    const auto formats = LineFormatsAfterRefresh(settings);
    for (std::size_t i = 0; i < kLineCount; ++i) {
        LineSetup& line = setup.lines[i];
        line.caption = settings.Read(keys::kCaption[i]);
        line.chosen = keys::IsChosenForFrame(settings.Read(keys::kLineChosen[i]));
        line.digits = formats[i].numbers;
        line.places = formats[i].places;
    }
    return setup;
}

std::variant<BoardSetup, SetupRefusal> ApplySetupChange(const BoardSetup& now,
                                                        const SetupChange& change) {
    BoardSetup next = now;
    if (change.address) {
        next.address = *change.address;
    }
    if (change.bus) {
        if (*change.bus < 0 || *change.bus > kLargestBus) {
            return Refused("bus", "a bus address is 0..99");
        }
        next.bus = *change.bus;
    }
    if (change.link) {
        next.link = *change.link;
    }
    if (change.port) {
        if (const auto problem = TextProblem(*change.port, keys::kSerialPort)) {
            return Refused("port", "a serial port's name: " + *problem);
        }
        next.port = *change.port;
    }
    if (change.baud) {
        if (std::find(kBaudRates.begin(), kBaudRates.end(), *change.baud) == kBaudRates.end()) {
            return Refused("baud", "the baud rate is 9600 or 57600");
        }
        next.baud = *change.baud;
    }
    if (change.groups) {
        std::vector<std::string> seen;
        for (const std::string& group : *change.groups) {
            if (!IsTopicName(group)) {
                return Refused("groups", "a group's name is used in topics: letters, digits, - "
                                         "and _ only");
            }
            if (std::find(seen.begin(), seen.end(), group) != seen.end()) {
                return Refused("groups", "the group " + group + " is named twice");
            }
            seen.push_back(group);
        }
        next.groups = *change.groups;
    }
    for (std::size_t i = 0; i < kLineCount; ++i) {
        const LineSetupChange& asked = change.lines[i];
        LineSetup& line = next.lines[i];
        if (asked.caption) {
            if (const auto problem = TextProblem(*asked.caption, keys::kCaption[i])) {
                return Refused(LineField(i, "caption"), "a caption: " + *problem);
            }
            line.caption = *asked.caption;
        }
        if (asked.chosen) {
            line.chosen = *asked.chosen;
        }
        if (asked.digits) {
            const std::string text = std::to_string(*asked.digits);
            if (!MatchDigitCountItem(text)) {
                return Refused(LineField(i, "digits"), "a line has 3..8 digits");
            }
            line.digits = text;
        }
        if (asked.places) {
            const auto item = MatchDecimalPlaceItem(*asked.places);
            if (!item || *item != *asked.places) {
                return Refused(LineField(i, "places"),
                               "places are \"No\" (a free point) or \"0\"..\"4\"");
            }
            line.places = *asked.places;
        }
        if ((asked.digits || asked.places) && !PlacesAccepted(line.digits, line.places)) {
            return Refused(LineField(i, asked.places ? "places" : "digits"),
                           "a line's digits must be more than its decimal places");
        }
    }
    if (next.link == BoardLink::Udp && next.address == 0) {
        return Refused("address", "a UDP board needs its controller's address");
    }
    if (next.link == BoardLink::Serial && next.port.empty()) {
        return Refused("port", "a serial board needs its serial port");
    }
    return next;
}

std::variant<SettingWrites, SetupRefusal>
SetupWrites(const SettingsFile& settings, const BoardSetup& before, const BoardSetup& after) {
    const SettingsFile::Snapshot once(settings);
    SettingWrites writes;
    if (after.address != before.address) {
        // As the dialog's address field stores it.
        writes.emplace_back(keys::kControllerIp, std::to_string(StoredAddressValue(after.address)));
    }
    if (after.bus != before.bus) {
        char bus[4];
        std::snprintf(bus, sizeof bus, "%02d", after.bus);
        writes.emplace_back(keys::kBusAddress, bus);
    }
    if (after.port != before.port) {
        writes.emplace_back(keys::kSerialPort, after.port);
    }
    if (after.baud != before.baud) {
        writes.emplace_back(keys::kBaudRate, std::to_string(after.baud));
    }
    bool formats_changed = false;
    for (std::size_t i = 0; i < kLineCount; ++i) {
        const LineSetup& was = before.lines[i];
        const LineSetup& is = after.lines[i];
        if (is.caption != was.caption) {
            writes.emplace_back(keys::kCaption[i], is.caption);
        }
        if (is.chosen != was.chosen) {
            writes.emplace_back(keys::kLineChosen[i], is.chosen ? keys::kChosen : keys::kNotChosen);
        }
        formats_changed |= is.digits != was.digits || is.places != was.places;
    }
    if (!formats_changed) {
        return writes;
    }
    // Unified formats would put one format back over every line at the
    // dialog's next refresh: the lines' own formats count from now on, as
    // when the dialog's "separate" is chosen.
    const bool unified = !keys::IsSeparateMode(settings.ReadNumber(keys::kMode));
    if (unified) {
        writes.emplace_back(keys::kMode, keys::kSeparateMode);
    }
    for (std::size_t i = 0; i < kLineCount; ++i) {
        const LineSetup& was = before.lines[i];
        const LineSetup& is = after.lines[i];
        const bool changed = is.digits != was.digits || is.places != was.places;
        if (!changed && !unified) {
            continue;
        }
        writes.emplace_back(keys::kDigitCount[i], is.digits);
        writes.emplace_back(keys::kDecimalPlaces[i], is.places);
        const std::string text = settings.Read(keys::kLineText[i]);
        if (!changed || text.empty()) {
            continue;
        }
        const LineFormat format{is.digits, is.places};
        if (!LineValueFits(text, format)) {
            return Refused(LineField(i, is.digits != was.digits ? "digits" : "places"),
                           "line " + std::to_string(i + 1) + " holds " + text + ", which " +
                               is.digits + " digits with places " + is.places +
                               " cannot show; change or clear the line first");
        }
        if (const auto formatted = FormatTypedLine(text, format); formatted && *formatted != text) {
            writes.emplace_back(keys::kLineText[i], *formatted);
        }
    }
    return writes;
}

} // namespace lumidex
