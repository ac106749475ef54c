#include "boards/boards_file.h"

#include "link/address.h"
#include "settings/file_io.h"
#include "settings/keys.h"
#include "settings/profile.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <functional>
#include <charconv>
#include <cstdlib>

namespace lumidex {
namespace {

constexpr std::string_view kBridgeSection = "bridge";
constexpr std::string_view kRefreshKey = "refresh";
constexpr std::string_view kStaleKeys[] = {"stale-after", "stale-lines", "stale-show"};
constexpr std::string_view kRecordKeys[] = {"record", "record-months"};
constexpr long kMostRecordMonths = 1200;
constexpr std::string_view kBoardKeys[] = {
    "settings",    "link",        "groups",      kRefreshKey,   "stale-after", "stale-lines",
    "stale-show",  "line-1-min",  "line-1-max",  "line-2-min",  "line-2-max",  "line-3-min",
    "line-3-max",  "line-4-min",  "line-4-max",  "line-5-min",  "line-5-max",  "line-6-min",
    "line-6-max"};
constexpr long kLongestStaleAfter = 30L * 86400;
constexpr std::size_t kValueChars = 4096;
constexpr std::size_t kMaxTopicName = 64;
constexpr long kLongestRefresh = 86400;

// A whole number of seconds 0..longest; nothing for any other text.
std::optional<std::chrono::seconds> ParseSeconds(const std::string& text, long longest) {
    long seconds = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        seconds < 0 || seconds > longest) {
        return std::nullopt;
    }
    return std::chrono::seconds{seconds};
}

std::string Refusal(const std::filesystem::path& file, std::string_view section,
                    std::string_view key, std::string_view why) {
    return file.string() + ": [" + std::string(section) + "]" +
           (key.empty() ? "" : " " + std::string(key)) + ": " + std::string(why);
}

bool Contains(std::span<const std::string_view> keys, std::string_view key) {
    return std::any_of(keys.begin(), keys.end(),
                       [&](std::string_view known) { return EqualIgnoringCase(known, key); });
}

// Whether a section is the service's or a door's rather than a board's.
bool IsDoorSection(std::string_view section, const std::vector<DoorKeys>& doors) {
    return EqualIgnoringCase(section, kBridgeSection) ||
           std::any_of(doors.begin(), doors.end(), [&](const DoorKeys& door) {
               return EqualIgnoringCase(section, door.section);
           });
}

// Whether a key may stand in the section: in [bridge] refresh and the doors'
// keys there, in a door's own section that door's keys, in a board's
// section the board's keys.
bool KeyAllowed(std::string_view section, std::string_view key,
                const std::vector<DoorKeys>& doors) {
    if (!IsDoorSection(section, doors)) {
        return Contains(kBoardKeys, key);
    }
    if (EqualIgnoringCase(section, kBridgeSection) &&
        (EqualIgnoringCase(key, kRefreshKey) || Contains(kStaleKeys, key) || Contains(kRecordKeys, key))) {
        return true;
    }
    return std::any_of(doors.begin(), doors.end(), [&](const DoorKeys& door) {
        return EqualIgnoringCase(section, door.section) && Contains(door.keys, key);
    });
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        std::string item = text.substr(start, comma - start);
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        if (!item.empty()) {
            items.push_back(item);
        }
        start = comma + 1;
    }
    return items;
}

// Reads the stale keys a section gives into `guard`, over what it held;
// the refusal of a bad value (key, why).
std::optional<std::pair<std::string, std::string>>
ReadStaleGuard(const std::function<std::string(std::string_view)>& value, StaleGuard& guard) {
    if (const std::string v = value("stale-after"); !v.empty()) {
        const auto after = ParseSeconds(v, kLongestStaleAfter);
        if (!after) {
            return std::pair{"stale-after",
                             "wants whole seconds 0..2592000 (0: off), got '" + v + "'"};
        }
        guard.after = *after;
    }
    if (const std::string v = value("stale-lines"); !v.empty()) {
        std::vector<int> lines;
        for (const std::string& item : SplitList(v)) {
            if (item.size() != 1 || item[0] < '1' || item[0] > '6') {
                return std::pair{"stale-lines", "wants lines 1..6 joined by commas, got '" + v + "'"};
            }
            if (std::find(lines.begin(), lines.end(), item[0] - '0') == lines.end()) {
                lines.push_back(item[0] - '0');
            }
        }
        std::sort(lines.begin(), lines.end());
        guard.lines = std::move(lines);
    }
    if (const std::string v = value("stale-show"); !v.empty()) {
        if (EqualIgnoringCase(v, "blank")) {
            guard.show = StaleShow::Blank;
        } else if (EqualIgnoringCase(v, "flicker")) {
            guard.show = StaleShow::Flicker;
        } else {
            return std::pair{"stale-show", "wants blank or flicker, got '" + v + "'"};
        }
    }
    return std::nullopt;
}

} // namespace

std::string DoorSection::Value(std::string_view key) const {
    const auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
}

std::filesystem::path DoorSection::Path(std::string_view key) const {
    const std::string value = Value(key);
    return value.empty() ? std::filesystem::path()
                         : std::filesystem::absolute(file.parent_path() / value);
}

std::optional<DoorFile> DoorSection::File(std::string_view key, std::string& error) const {
    const std::string value = Value(key);
    if (!value.starts_with(kCredentialPrefix)) {
        return DoorFile{Path(key), false};
    }
    const std::string name = value.substr(kCredentialPrefix.size());
    // systemd's own rule for a credential's name: one file name.
    if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
        name.find('/') != std::string::npos) {
        error = Refusal(key, "'" + name + "' is no credential name (one file name)");
        return std::nullopt;
    }
    const char* folder = std::getenv("CREDENTIALS_DIRECTORY");
    if (folder == nullptr || folder[0] == '\0') {
        error = Refusal(key, "the credential " + name +
                                 " is handed over by systemd (LoadCredential=" + name +
                                 ":FILE), but CREDENTIALS_DIRECTORY is not set: run by hand, "
                                 "name the file itself");
        return std::nullopt;
    }
    return DoorFile{std::filesystem::absolute(std::filesystem::path(folder) / name), true};
}

std::string DoorSection::Refusal(std::string_view key, std::string_view why) const {
    return lumidex::Refusal(file, name, key, why);
}

bool IsBoundText(std::string_view text) {
    const std::size_t point = text.find('.');
    if (text.empty() || point == 0 || (point != std::string_view::npos && point + 1 == text.size())) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); }) &&
           std::count(text.begin(), text.end(), '.') <= 1;
}

std::filesystem::path RecordFolderBeside(const std::filesystem::path& boards_file) {
    return boards_file.parent_path() / (boards_file.stem().string() + "-record");
}

bool IsTopicName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxTopicName &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '-' || c == '_';
           });
}

std::optional<std::string> BoardNameProblem(const std::string& name) {
    if (!IsTopicName(name)) {
        return "a board's name is used in topics: letters, digits, - and _ only";
    }
    if (EqualIgnoringCase(name, "group")) {
        return "'group' is a topic level of its own; choose another board name";
    }
    return std::nullopt;
}

std::optional<BridgeConfig> ReadBoardsFile(const std::filesystem::path& file,
                                           const std::vector<DoorKeys>& doors, std::string& error) {
    const std::string where = file.string();
    std::string why;
    const auto bytes = ReadWholeFile(file, &why);
    if (!bytes) {
        error = where + ": cannot read the boards file: " + why;
        return std::nullopt;
    }
    const std::string text = DecodeSettingsText(*bytes).text;
    auto fail = [&](std::string_view section, std::string_view key, std::string_view why) {
        error = Refusal(file, section, key, why);
        return std::nullopt;
    };
    auto value = [&](std::string_view section, std::string_view key) {
        return ReadSettingFromText(text, section, key, "", kValueChars);
    };

    BridgeConfig config;
    config.file = std::filesystem::absolute(file);
    std::vector<std::string> sections;
    for (const SettingName& name : ListSettingNames(text)) {
        if (name.section.empty()) {
            error = where + ": line " + std::to_string(name.line) + ": key " + name.key +
                    " stands before any section";
            return std::nullopt;
        }
        if (name.key.empty()) {
            if (std::any_of(sections.begin(), sections.end(), [&](const std::string& s) {
                    return EqualIgnoringCase(s, name.section);
                })) {
                return fail(name.section, "", "the section appears twice");
            }
            sections.push_back(name.section);
            continue;
        }
        if (!KeyAllowed(name.section, name.key, doors)) {
            return fail(name.section, name.key, "unknown key");
        }
    }
    const auto written = [&](std::string_view section) -> std::optional<std::string> {
        const auto found =
            std::find_if(sections.begin(), sections.end(),
                         [&](const std::string& s) { return EqualIgnoringCase(s, section); });
        return found == sections.end() ? std::nullopt : std::optional(*found);
    };

    if (const auto bridge = written(kBridgeSection)) {
        if (const std::string v = value(*bridge, kRefreshKey); !v.empty()) {
            const auto refresh = ParseSeconds(v, kLongestRefresh);
            if (!refresh) {
                return fail(*bridge, kRefreshKey,
                            "wants whole seconds 0..86400 (0: never), got '" + v + "'");
            }
            config.refresh = *refresh;
        }
        if (auto bad = ReadStaleGuard(
                [&](std::string_view key) { return value(*bridge, key); }, config.stale)) {
            return fail(*bridge, bad->first, bad->second);
        }
        if (const std::string v = value(*bridge, "record"); !v.empty()) {
            config.record = std::filesystem::path(v).is_absolute() ? std::filesystem::path(v)
                                                                   : config.file.parent_path() / v;
        }
        if (const std::string v = value(*bridge, "record-months"); !v.empty()) {
            const auto months = ParseSeconds(v, kMostRecordMonths);
            if (!months || months->count() < 1) {
                return fail(*bridge, "record-months", "wants whole months 1..1200, got '" + v + "'");
            }
            config.record_months = static_cast<int>(months->count());
        }
    }
    if (config.record.empty()) {
        config.record = RecordFolderBeside(config.file);
    }
    for (const DoorKeys& door : doors) {
        const auto section = written(door.section);
        auto [entry, made] = config.doors.try_emplace(std::string(door.section));
        DoorSection& kept = entry->second;
        if (made) {
            kept.file = file;
            kept.name = section.value_or(std::string(door.section));
        }
        for (const std::string_view key : door.keys) {
            if (std::string v = section ? value(*section, key) : ""; !v.empty()) {
                kept.values.insert_or_assign(std::string(key), std::move(v));
            }
        }
    }

    for (const std::string& s : sections) {
        if (IsDoorSection(s, doors)) {
            continue;
        }
        BoardConfig board;
        board.name = s;
        if (const auto problem = BoardNameProblem(s)) {
            return fail(s, "", *problem);
        }
        const std::string settings = value(s, "settings");
        if (settings.empty()) {
            return fail(s, "settings", "missing: name the board's Config.ini");
        }
        board.settings = std::filesystem::absolute(file.parent_path() / settings);
        if (!ReadWholeFile(board.settings, &why)) {
            return fail(s, "settings", "cannot read " + board.settings.string() + ": " + why);
        }
        const std::string link = value(s, "link");
        const SettingsFile board_settings(board.settings);
        if (EqualIgnoringCase(link, "udp") || link.empty()) {
            board.link = BoardLink::Udp;
            // A dotted address written by hand would be read as another
            // controller's number: said, so the board is not fed in silence.
            if (const auto problem = StoredAddressProblem(board_settings.Read(keys::kControllerIp))) {
                return fail(s, "link", board.settings.string() + ": " + *problem);
            }
            if (AddressFromStored(board_settings.ReadNumber(keys::kControllerIp)) == 0) {
                return fail(s, "link",
                            "udp, but " + board.settings.string() +
                                " holds no controller address (LEDIP)");
            }
        } else if (EqualIgnoringCase(link, "serial")) {
            board.link = BoardLink::Serial;
            board.serial_port = board_settings.Read(keys::kSerialPort);
            if (board.serial_port.empty()) {
                return fail(s, "link",
                            "serial, but " + board.settings.string() +
                                " names no serial port (Port)");
            }
        } else {
            return fail(s, "link", "wants udp or serial, got '" + link + "'");
        }
        if (const std::string v = value(s, kRefreshKey); !v.empty()) {
            board.refresh = ParseSeconds(v, kLongestRefresh);
            if (!board.refresh) {
                return fail(s, kRefreshKey,
                            "wants whole seconds 0..86400 (0: never), got '" + v + "'");
            }
        }
        board.stale = config.stale;
        if (auto bad = ReadStaleGuard([&](std::string_view key) { return value(s, key); },
                                      board.stale)) {
            return fail(s, bad->first, bad->second);
        }
        for (std::size_t i = 0; i < board.bounds.size(); ++i) {
            const std::string line = "line-" + std::to_string(i + 1);
            for (const auto& [key, bound] :
                 {std::pair{line + "-min", &board.bounds[i].min}, std::pair{line + "-max", &board.bounds[i].max}}) {
                if (const std::string v = value(s, key); !v.empty()) {
                    if (!IsBoundText(v)) {
                        return fail(s, key,
                                    "wants a value as the line shows one (digits, at most one "
                                    "point inside), got '" + v + "'");
                    }
                    *bound = v;
                }
            }
            const LineBounds& b = board.bounds[i];
            if (b.min && b.max && std::strtod(b.min->c_str(), nullptr) > std::strtod(b.max->c_str(), nullptr)) {
                return fail(s, line + "-min", *b.min + " is above " + line + "-max " + *b.max);
            }
        }
        board.groups = SplitList(value(s, "groups"));
        for (const std::string& group : board.groups) {
            if (!IsTopicName(group)) {
                return fail(s, "groups", "group '" + group + "': letters, digits, - and _ only");
            }
        }
        config.boards.push_back(std::move(board));
    }
    if (config.boards.empty()) {
        error = where + ": no board sections";
        return std::nullopt;
    }
    return config;
}

} // namespace lumidex
