// Runs the HTTP door on fuzzed requests: the bytes a client sends, read by
// the door's parser with its limits and answered by its API over a board
// service with two boards (not started: nothing goes out), as a client
// with the admin's password, a token, or nobody.
//
// Input: a raw HTTP/1 request (headers, body).
//
// Properties: every request gets exactly one answer, at once (a change the
// boards do not take in time answers 202); a refused request (4xx) carries
// one line of JSON with its reason and changes no board's Config.ini; a
// request the parser cannot read is answered 400, 413 or 431, or not at
// all when it is cut short. The same request's body, checked as a change
// for a board, stores only keys its fields name, and an operator's change
// only line texts and "Update in".

#include "fuzz/fuzz_support.h"

#include "boards/service.h"
#include "settings/file_io.h"
#include "tools/bridge/http/api.h"
#include "tools/bridge/http/auth.h"
#include "boards/schedule.h"
#include "tools/bridge/http/body.h"
#include "tools/bridge/http/connection.h"
#include "tools/bridge/http/settings.h"

#include <nlohmann/json.hpp>

#include <fstream>

using namespace lumidex;

namespace {

// PBKDF2 of "admin" with 1000 rounds and the salt "0123456789abcdef".
constexpr const char* kAdminLine =
    "pbkdf2-sha256$1000$MDEyMzQ1Njc4OWFiY2RlZg==$aNn8BQr5aSJJHHIbUz0UQmUI3Tvt1HL+cOX4vmht/q4=";

struct Door {
    std::filesystem::path dir;
    std::unique_ptr<BoardService> service;
    std::unique_ptr<HttpApi> api;

    Door() {
        dir = fuzz::ScratchSettingsPath().parent_path() / "http";
        std::filesystem::create_directories(dir);
        for (const char* name : {"hall", "dock"}) {
            // Controller 127.0.0.99: never asked, the service does not start.
            std::ofstream(dir / (std::string(name) + ".ini"))
                << "[Set]\r\nwsv1=4\r\nwsv6=2\r\nwsv2=3\r\nwsv7=No\r\nLEDIP=2130706531\r\n";
        }
        std::ofstream(dir / "boards.ini")
            << "[hall]\nsettings=hall.ini\ngroups=prices\n[dock]\nsettings=dock.ini\ngroups=prices\n";
        std::string error;
        auto config = ReadBoardsFile(dir / "boards.ini", {kHttpDoorKeys}, error);
        fuzz::Require(config.has_value(), "the harness's boards file reads", [&] { return error; });
        service = std::make_unique<BoardService>(*config);
        HttpApi::Settings settings;
        settings.port = 8080;
        settings.host_names = {"pump-pc"};
        settings.allow_origin = "https://rates.example";
        settings.credentials = std::make_shared<Credentials>(
            std::nullopt, std::string(kAdminLine),
            std::vector<Token>{{Role::Operator, "operator-token-0123", "feed"}});
        // The door's thread is this one: what is posted runs at once, a
        // time limit is reached at once, and a password is checked (or the
        // record read) at once.
        api = std::make_unique<HttpApi>(
            *service, std::move(settings), [](std::function<void()> task) { task(); },
            [](std::chrono::milliseconds, std::function<void()> task) { task(); },
            [](const std::string&, std::function<void(bool)> check) {
                check(true);
                return true;
            },
            [](const std::string&, std::function<void(bool)> read) {
                read(true);
                return true;
            });
    }

    std::string Files() const {
        return ReadWholeFile(dir / "hall.ini").value_or("") + "|" +
               ReadWholeFile(dir / "dock.ini").value_or("");
    }
};

Door& TheDoor() {
    static Door door;
    return door;
}

void CheckAnswer(const HttpRequest& request, int calls, const HttpResponse& answer,
                 const std::string& before, const std::string& after) {
    const auto details = [&] {
        return request.method + " " + fuzz::Printable(request.target) + " -> " +
               std::to_string(answer.status) + " " + fuzz::Printable(answer.body);
    };
    fuzz::Require(calls == 1, "a request gets exactly one answer", details);
    fuzz::Require(answer.status >= 200 && answer.status < 600, "the status is an HTTP status", details);
    if (answer.status >= 400) {
        const auto json = nlohmann::json::parse(answer.body, nullptr, false);
        fuzz::Require(json.is_object() && json.contains("error") && json["error"].is_string() &&
                          json["error"].get<std::string>().find('\n') == std::string::npos,
                      "a refusal says why in one line of JSON", details);
        fuzz::Require(before == after, "a refused request changes no board", details);
    }
}

void CheckBody(const std::string& body) {
    const auto json = nlohmann::ordered_json::parse(body, nullptr, false);
    if (json.is_discarded()) {
        return;
    }
    LineRules rules;
    rules.formats.fill({"3", "No"});
    rules.formats[0] = {"4", "2"};
    // Line 2 takes 5 to 250 only.
    rules.bounds[1] = {"5", "250"};
    const auto& formats = rules.formats;
    for (const Role role : {Role::Operator, Role::Admin}) {
        // A schedule's body is read whole or refused, never half.
        const auto schedule = ScheduleFromBody(json, role);
        if (const auto* made = std::get_if<Schedule>(&schedule)) {
            fuzz::Require(made->board.empty() != made->group.empty() &&
                              made->at.has_value() != made->daily.has_value() &&
                              made->clock == made->set.is_null() &&
                              (role == Role::Admin || made->role == Role::Operator),
                          "a schedule read names one target, one time and one change its role may ask for",
                          [&] { return fuzz::Printable(body); });
        }
        const auto checked = ChangeFromBody(json, rules, role);
        const auto* change = std::get_if<BoardChange>(&checked);
        if (change == nullptr) {
            continue;
        }
        for (const auto& write : change->writes) {
            const std::string name(write.first.name);
            const std::string& value = write.second;
            const bool line_text = name.starts_with("TD");
            const bool operators = line_text || name == "UIN";
            fuzz::Require(role == Role::Admin || operators,
                          "an operator's change stores only line texts and Update in",
                          [&] { return fuzz::Printable(body) + " stores " + name; });
            const char* field = line_text          ? "lines"
                                : name == "UIN"      ? "update"
                                : name.starts_with("FCC") ? "flicker"
                                : name.starts_with("PLL") ? "point"
                                                        : "brightness";
            fuzz::Require(json.contains(field), "a change stores only what its fields name",
                          [&] { return fuzz::Printable(body) + " stores " + name; });
            if (line_text) {
                const auto index = static_cast<std::size_t>(name[2] - '1');
                fuzz::Require(LineValueFits(value, formats[index]), "a stored line text fits its line",
                              [&] { return fuzz::Printable(body) + " stores " + value; });
                fuzz::Require(!OutsideBounds(static_cast<int>(index) + 1, value, value, rules.bounds[index]),
                              "a stored line text lies within its line's bounds",
                              [&] { return fuzz::Printable(body) + " stores " + value; });
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Door& door = TheDoor();
    HttpParser parser;
    LimitParser(parser);
    parser.eager(true);
    boost::beast::error_code error;
    std::size_t used = 0;
    while (!error && used < size && !parser.is_done()) {
        used += parser.put(boost::asio::buffer(data + used, size - used), error);
        if (!error && used < size && !parser.is_done() && parser.need_eof()) {
            break;
        }
        if (error == boost::beast::http::error::need_more) {
            error = {};
            break;
        }
    }
    if (!error && !parser.is_done()) {
        parser.put_eof(error);
    }
    if (!parser.is_done()) {
        const auto refusal = RefusalOfUnreadable(error);
        fuzz::Require(!refusal || refusal->status == 400 || refusal->status == 413 ||
                          refusal->status == 431,
                      "an unreadable request is answered 400, 413 or 431");
        return 0;
    }
    const HttpRequest request = RequestOf(parser.get(), "192.0.2.7");
    const std::string before = door.Files();
    int calls = 0;
    HttpResponse answer;
    door.api->Handle(request, [&](HttpResponse response) {
        ++calls;
        answer = std::move(response);
    });
    CheckAnswer(request, calls, answer, before, door.Files());
    CheckBody(request.body);
    return 0;
}
