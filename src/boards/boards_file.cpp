#include "boards/boards_file.h"

#include "link/address.h"
#include "settings/file_io.h"
#include "settings/keys.h"
#include "settings/profile.h"
#include "settings/text_codec.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace lumidex {
namespace {

constexpr std::string_view kBridgeSection = "bridge";
constexpr std::size_t kValueChars = 4096;
constexpr std::size_t kMaxTopicName = 64;

const std::set<std::string> kBridgeKeys{"broker",        "prefix", "client-id", "username",
                                        "password-file", "tls-ca", "discovery", "refresh"};
const std::set<std::string> kBoardKeys{"settings", "link", "groups", "refresh"};
constexpr long kLongestRefresh = 86400;

// A refresh interval in whole seconds, 0..a day; nothing for any other text.
std::optional<std::chrono::seconds> ParseRefresh(const std::string& text) {
    long seconds = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        seconds < 0 || seconds > kLongestRefresh) {
        return std::nullopt;
    }
    return std::chrono::seconds{seconds};
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
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

} // namespace

bool IsTopicName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxTopicName &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '-' || c == '_';
           });
}

bool IsTopicPrefix(const std::string& prefix) {
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/' ||
        prefix.find("//") != std::string::npos) {
        return false;
    }
    return prefix.find_first_of(std::string("+#\0", 3)) == std::string::npos;
}

bool ParseBrokerAddress(const std::string& text, BrokerConfig& broker) {
    const std::size_t colon = text.rfind(':');
    const std::string host = text.substr(0, colon);
    if (host.empty()) {
        return false;
    }
    if (colon != std::string::npos) {
        const std::string port_text = text.substr(colon + 1);
        int port = 0;
        const auto result =
            std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
        if (result.ec != std::errc() || result.ptr != port_text.data() + port_text.size() ||
            port < 1 || port > 65535) {
            return false;
        }
        broker.port = port;
    }
    broker.host = host;
    return true;
}

std::optional<BridgeConfig> ReadBoardsFile(const std::filesystem::path& file, std::string& error) {
    const std::string where = file.string();
    std::string why;
    const auto bytes = ReadWholeFile(file, &why);
    if (!bytes) {
        error = where + ": cannot read the boards file: " + why;
        return std::nullopt;
    }
    const std::string text = DecodeSettingsText(*bytes).text;
    auto fail = [&](const std::string& section, const std::string& key, const std::string& why) {
        error = where + ": [" + section + "]" + (key.empty() ? "" : " " + key) + ": " + why;
        return std::nullopt;
    };
    auto value = [&](const std::string& section, std::string_view key) {
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
        const bool bridge = Lower(name.section) == kBridgeSection;
        if (name.key.empty()) {
            if (std::any_of(sections.begin(), sections.end(), [&](const std::string& s) {
                    return Lower(s) == Lower(name.section);
                })) {
                return fail(name.section, "", "the section appears twice");
            }
            sections.push_back(name.section);
            continue;
        }
        const std::set<std::string>& allowed = bridge ? kBridgeKeys : kBoardKeys;
        if (!allowed.contains(Lower(name.key))) {
            return fail(name.section, name.key, "unknown key");
        }
    }

    BrokerConfig& broker = config.broker;
    const auto bridge_section =
        std::find_if(sections.begin(), sections.end(),
                     [](const std::string& s) { return Lower(s) == kBridgeSection; });
    if (bridge_section != sections.end()) {
        const std::string& s = *bridge_section;
        if (const std::string v = value(s, "broker");
            !v.empty() && !ParseBrokerAddress(v, broker)) {
            return fail(s, "broker", "wants HOST[:PORT], got '" + v + "'");
        }
        if (const std::string v = value(s, "prefix"); !v.empty()) {
            if (!IsTopicPrefix(v)) {
                return fail(s, "prefix",
                            "'" + v + "' is no topic prefix (no wildcards, no empty level)");
            }
            broker.prefix = v;
        }
        if (const std::string v = value(s, "client-id"); !v.empty()) {
            broker.client_id = v;
        }
        broker.username = value(s, "username");
        if (const std::string v = value(s, "password-file"); !v.empty()) {
            broker.password_file = std::filesystem::absolute(file.parent_path() / v);
        }
        if (const std::string v = value(s, "tls-ca"); !v.empty()) {
            broker.tls_ca = std::filesystem::absolute(file.parent_path() / v);
        }
        if (const std::string v = Lower(value(s, "discovery")); !v.empty()) {
            if (v != "yes" && v != "no" && v != "1" && v != "0") {
                return fail(s, "discovery", "wants yes or no, got '" + v + "'");
            }
            broker.discovery = v == "yes" || v == "1";
        }
        if (const std::string v = value(s, "refresh"); !v.empty()) {
            const auto refresh = ParseRefresh(v);
            if (!refresh) {
                return fail(s, "refresh", "wants whole seconds 0..86400 (0: never), got '" + v + "'");
            }
            config.refresh = *refresh;
        }
    }

    for (const std::string& s : sections) {
        if (Lower(s) == kBridgeSection) {
            continue;
        }
        BoardConfig board;
        board.name = s;
        if (!IsTopicName(s)) {
            return fail(s, "", "a board's name is used in topics: letters, digits, - and _ only");
        }
        if (Lower(s) == "group") {
            return fail(s, "", "'group' is a topic level of its own; choose another board name");
        }
        const std::string settings = value(s, "settings");
        if (settings.empty()) {
            return fail(s, "settings", "missing: name the board's Config.ini");
        }
        board.settings = std::filesystem::absolute(file.parent_path() / settings);
        if (!ReadWholeFile(board.settings, &why)) {
            return fail(s, "settings", "cannot read " + board.settings.string() + ": " + why);
        }
        const std::string link = Lower(value(s, "link"));
        const SettingsFile board_settings(board.settings);
        if (link == "udp" || link.empty()) {
            board.link = BoardLink::Udp;
            if (AddressFromStored(board_settings.ReadNumber(keys::kControllerIp)) == 0) {
                return fail(s, "link",
                            "udp, but " + board.settings.string() +
                                " holds no controller address (LEDIP)");
            }
        } else if (link == "serial") {
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
        if (const std::string v = value(s, "refresh"); !v.empty()) {
            board.refresh = ParseRefresh(v);
            if (!board.refresh) {
                return fail(s, "refresh", "wants whole seconds 0..86400 (0: never), got '" + v + "'");
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
