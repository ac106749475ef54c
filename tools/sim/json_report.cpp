#include "tools/sim/json_report.h"

#include "tools/sim/display.h"

#include <nlohmann/json.hpp>

namespace lumidex {
namespace {

// Keys stay in the order they are added, as readers of the log expect.
using Json = nlohmann::ordered_json;

std::string Dump(const Json& object) {
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Json ReportHead(const std::string& link, const std::string& peer,
                std::span<const std::uint8_t> bytes, bool valid) {
    Json object;
    object["link"] = link;
    object["peer"] = peer;
    object["hex"] = FormatHex(bytes);
    object["valid"] = valid;
    return object;
}

void AddDecodedFields(Json& object, const DecodedFrame& frame) {
    switch (frame.command) {
    case kContentNow:
    case kContentAtHour: {
        object["at_once"] = frame.at_once;
        object["hour_code"] = frame.hour_code;
        Json lines = Json::array();
        for (const DecodedLine& line : frame.lines) {
            Json entry;
            entry["line"] = line.line;
            entry["flicker"] = line.flicker;
            entry["digits"] = line.digit_count;
            entry["text"] = line.text;
            lines.push_back(std::move(entry));
        }
        object["lines"] = std::move(lines);
        break;
    }
    case kBrightness:
        object["day"] = frame.day_level;
        object["night"] = frame.night_level;
        break;
    case kClockCalibration:
        object["clock"] = FormatClock(frame.clock);
        object["weekday"] = frame.clock.weekday;
        break;
    default:
        break;
    }
}

} // namespace

std::string FrameReportJson(const std::string& link, const std::string& peer,
                            std::span<const std::uint8_t> bytes, const DecodeResult& decoded,
                            const std::string& answer) {
    Json object = ReportHead(link, peer, bytes, decoded.frame.has_value());
    if (decoded.frame) {
        object["command"] = CommandName(decoded.frame->command);
        object["address"] = decoded.frame->address;
        AddDecodedFields(object, *decoded.frame);
    } else {
        object["error"] = decoded.reason;
    }
    object["answer"] = answer;
    return Dump(object);
}

std::string IgnoredReportJson(const std::string& link, const std::string& peer,
                              std::span<const std::uint8_t> bytes, const std::string& what) {
    Json object = ReportHead(link, peer, bytes, false);
    object["error"] = what;
    object["answer"] = "none";
    return Dump(object);
}

std::string HeldBackReportJson(long held_back, bool valid) {
    Json object;
    object["held_back"] = held_back;
    object["of"] = valid ? "frames" : "rejected input";
    return Dump(object);
}

} // namespace lumidex
