// Runs the bridge's command rules on fuzzed input: taking a topic apart and
// checking a payload against a line's format, as the bridge does before it
// stores anything.
//
// Input: the "Numbers" text, the "Fixed point" text, the topic after the
// prefix and the payload, separated by zero bytes. Every line of the board
// has the one format.
//
// Properties: a command topic names a target and, for line commands, a line
// 1..6. A line value that is taken stores what the dialog's formatting makes
// of it, which differs from the typed value by less than one and keeps at
// most g (free point) or g + 1 characters; a taken value matches the pattern
// Home Assistant is given, and a value the pattern matches is taken unless
// its rounding carries into a place the line lacks. Flags store 0 or 1,
// brightness 0..7, the update time an "Update in" item, and an init is taken
// only with INITIALIZE.

#include "fuzz/fuzz_support.h"

#include "boards/board_rules.h"
#include "lines/line_format.h"
#include "protocol/content_frame.h"
#include "tools/bridge/mqtt/topics.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>

using namespace lumidex;

namespace {

const std::regex& PatternOf(const LineFormat& format) {
    static std::map<std::pair<std::string, std::string>, std::regex> patterns;
    const auto key = std::make_pair(format.numbers, format.places);
    auto found = patterns.find(key);
    if (found == patterns.end()) {
        found = patterns.emplace(key, std::regex(LineValuePattern(format))).first;
    }
    return found->second;
}

void CheckLineValue(const LineFormat& format, std::string_view payload,
                    const std::variant<BoardChange, std::string>& checked) {
    const std::string typed(TrimPayload(payload));
    const bool matches = std::regex_match(typed, PatternOf(format));
    const auto* command = std::get_if<BoardChange>(&checked);
    const auto details = [&] {
        return "numbers '" + fuzz::Printable(format.numbers) + "', places '" +
               fuzz::Printable(format.places) + "', value '" + fuzz::Printable(typed) +
               "', pattern " + LineValuePattern(format);
    };
    if (command == nullptr) {
        if (!matches) {
            return;
        }
        // Only a carry may refuse what the pattern allows.
        const auto shown = FormatLineText(typed, ShownDigitCount(format.numbers),
                                          ShownDecimalPlaces(format.places));
        fuzz::Require(shown && std::fabs(std::strtod(shown->c_str(), nullptr) -
                                         std::strtod(typed.c_str(), nullptr)) >= 1.0,
                      "a value the pattern allows is taken unless its rounding carries", details);
        return;
    }
    fuzz::Require(matches, "a taken value matches the pattern", details);
    fuzz::Require(command->sends == Commands{Command::Content} && command->writes.size() == 1,
                  "a line value stores one text and sends content", details);
    const std::string& stored = command->writes[0].second;
    const std::string expected =
        FormatLineText(typed, ShownDigitCount(format.numbers), ShownDecimalPlaces(format.places))
            .value_or("");
    fuzz::Require(stored == expected, "a taken value stores the dialog's formatting",
                  [&] { return details() + ", stored '" + stored + "'"; });
    const bool free_point = format.places == kFreePoint;
    const auto most =
        static_cast<std::size_t>(FirstDigitValue(format.numbers) + (free_point ? 0 : 1));
    fuzz::Require(stored.size() <= most, "a stored text fits the line's characters",
                  [&] { return details() + ", stored '" + stored + "'"; });
    if (!typed.empty()) {
        fuzz::Require(std::fabs(std::strtod(stored.c_str(), nullptr) -
                                std::strtod(typed.c_str(), nullptr)) < 1.0,
                      "a stored text shows the typed value but for its decimals",
                      [&] { return details() + ", stored '" + stored + "'"; });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fuzz::SplitFields(data, size, 4);
    const LineFormat format{std::string(fields[0].substr(0, 6)),
                            std::string(fields[1].substr(0, 6))};
    LineRules rules;
    rules.formats.fill(format);
    const ParsedTopic topic = ParseTopic(fields[2]);
    if (topic.kind != TopicKind::BoardCommand && topic.kind != TopicKind::GroupCommand) {
        return 0;
    }
    const auto where = [&] { return "topic '" + fuzz::Printable(fields[2]) + "'"; };
    fuzz::Require(!topic.target.empty(), "a command topic names its target", where);
    const bool line_command = topic.field == ChangeField::Line ||
                              topic.field == ChangeField::Flicker ||
                              topic.field == ChangeField::Point;
    fuzz::Require(!line_command || (topic.line >= 1 && topic.line <= kLineCount),
                  "a line command names a line 1..6", where);
    const auto checked = ChangeFromText(topic.field, topic.line, fields[3], rules);
    const std::string typed(TrimPayload(fields[3]));
    const auto* command = std::get_if<BoardChange>(&checked);
    switch (topic.field) {
    case ChangeField::Line:
        CheckLineValue(format, fields[3], checked);
        break;
    case ChangeField::Flicker:
    case ChangeField::Point:
        fuzz::Require(command == nullptr || command->writes.at(0).second == "0" ||
                          command->writes.at(0).second == "1",
                      "a flag stores 0 or 1", where);
        break;
    case ChangeField::DayBrightness:
    case ChangeField::NightBrightness:
        fuzz::Require(command == nullptr || (command->writes.at(0).second.size() == 1 &&
                                             command->writes.at(0).second[0] >= '0' &&
                                             command->writes.at(0).second[0] <= '7'),
                      "a brightness stores 0..7", where);
        break;
    case ChangeField::Update:
        fuzz::Require(command == nullptr ||
                          UpdateIndexFromText(command->writes.at(0).second).has_value(),
                      "an update time stores an \"Update in\" item", where);
        break;
    case ChangeField::Init:
        fuzz::Require((command != nullptr) == (typed == "INITIALIZE"),
                      "an init is taken exactly with INITIALIZE", where);
        break;
    case ChangeField::Clock:
        fuzz::Require(command == nullptr ||
                          (command->sends == Commands{Command::Clock} && command->writes.empty()),
                      "a clock command stores nothing", where);
        break;
    }
    return 0;
}
