#include "boards/status.h"

#include "boards/time_zone.h"

#include "protocol/frame.h"


namespace lumidex {

std::string_view ResultName(StatusResult result) {
    switch (result) {
    case StatusResult::Accepted:
        return "accepted";
    case StatusResult::BroadcastSent:
        return "broadcast sent";
    case StatusResult::Rejected:
        return "rejected";
    case StatusResult::NoAnswer:
        return "no answer";
    case StatusResult::LinkFailed:
        return "link failed";
    case StatusResult::Locked:
        return "locked";
    case StatusResult::NotSent:
        return "not sent";
    case StatusResult::Refused:
        break;
    }
    return "refused";
}

StatusResult ResultOf(DeliveryOutcome outcome) {
    switch (outcome) {
    case DeliveryOutcome::Accepted:
        return StatusResult::Accepted;
    case DeliveryOutcome::BroadcastSent:
        return StatusResult::BroadcastSent;
    case DeliveryOutcome::Rejected:
        return StatusResult::Rejected;
    case DeliveryOutcome::NoAnswer:
        return StatusResult::NoAnswer;
    case DeliveryOutcome::LinkFailed:
        return StatusResult::LinkFailed;
    case DeliveryOutcome::Refused:
        break;
    }
    return StatusResult::Refused;
}

std::string UtcText(std::chrono::system_clock::time_point at) {
    return IsoUtc(std::chrono::floor<std::chrono::seconds>(at));
}

nlohmann::ordered_json StatusJson(const BoardStatus& status) {
    nlohmann::ordered_json json;
    json["board"] = status.board;
    json["command"] = status.command ? std::string(CommandName(*status.command)) : "unknown";
    json["result"] = std::string(ResultName(status.result));
    if (!status.frame.empty()) {
        json["frame"] = FormatHex(status.frame);
    }
    if (!status.detail.empty()) {
        json["detail"] = status.detail;
    }
    if (!status.topic.empty()) {
        json["topic"] = status.topic;
    }
    json["at"] = UtcText(status.at);
    return json;
}

} // namespace lumidex
