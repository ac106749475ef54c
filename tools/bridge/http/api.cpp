#include "tools/bridge/http/api.h"

#include "boards/boards_file.h"
#include "boards/time_zone.h"
#include "lines/line_format.h"
#include "tools/bridge/http/body.h"
#include "tools/bridge/http/page.h"
#include "tools/bridge/http/rules.h"

#include <boost/beast/core/string.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace lumidex {
namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kSessionCookie = "lumidex_session";

// What the page may load and do: its own files, scripts and styles from
// this service only (no inline script), the empty icon as a data address,
// its API and event stream; no frames around it, no plug-ins, no form sent
// elsewhere.
constexpr std::string_view kPagePolicy =
    "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'none'";
// Over HTTPS: browsers that came once use HTTPS only for a year.
constexpr std::string_view kStrictTransport = "max-age=31536000";

std::string Dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

HttpResponse JsonResponse(int status, const Json& json) {
    HttpResponse response;
    response.status = status;
    response.body = Dump(json);
    return response;
}

// A name as an answer repeats it: one the boards file could hold, or else
// not at all.
std::string Named(const std::string& name) {
    return IsTopicName(name) ? name : "of that name";
}

Json BrightnessLevel(const std::string& text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '7') {
        return text[0] - '0';
    }
    return nullptr;
}

Json StatusObject(const std::optional<BoardStatus>& status) {
    if (!status) {
        return nullptr;
    }
    return StatusJson(*status);
}

// A moment as the API writes it ("2026-12-08T10:00:00Z"), or null.
Json UtcOrNull(const std::optional<std::chrono::sys_seconds>& moment) {
    if (!moment) {
        return nullptr;
    }
    return IsoUtc(*moment);
}

Json BoardJson(const BoardSnapshot& board) {
    Json json;
    json["name"] = board.name;
    json["groups"] = board.groups;
    json["availability"] = std::string(AvailabilityName(board.availability));
    json["update"] = board.update;
    json["brightness"] = {{"day", BrightnessLevel(board.day)}, {"night", BrightnessLevel(board.night)}};
    Json lines = Json::array();
    for (std::size_t i = 0; i < kLineCount; ++i) {
        const BoardLine& line = board.lines[i];
        Json json_line{{"number", line.number},
                       {"caption", line.caption},
                       {"chosen", line.chosen},
                       {"digits", DigitCountFromText(line.format.numbers)},
                       {"places", line.format.places},
                       {"text", line.text},
                       {"shown", board.shown.lines[i]},
                       {"flicker", line.flicker},
                       {"point", line.point},
                       {"pattern", line.pattern},
                       {"stale", line.stale},
                       {"fresh_at", UtcOrNull(line.fresh_at)},
                       {"stale_since", UtcOrNull(line.stale_since)}};
        // Bounds only where the boards file gives them.
        if (line.bounds.min) {
            json_line["min"] = *line.bounds.min;
        }
        if (line.bounds.max) {
            json_line["max"] = *line.bounds.max;
        }
        lines.push_back(std::move(json_line));
    }
    json["lines"] = std::move(lines);
    json["status"] = StatusObject(board.last_status);
    return json;
}

Json StatusesJson(const std::vector<BoardStatus>& statuses) {
    Json list = Json::array();
    for (const BoardStatus& status : statuses) {
        list.push_back(StatusObject(status));
    }
    return list;
}

// The path of a target split at '/', without the query.
std::vector<std::string> Segments(std::string_view path) {
    std::vector<std::string> parts;
    path.remove_prefix(1);
    while (true) {
        const std::size_t slash = path.find('/');
        parts.emplace_back(path.substr(0, slash));
        if (slash == std::string_view::npos) {
            return parts;
        }
        path.remove_prefix(slash + 1);
    }
}

// True when an Authorization header starts with this scheme ("Basic "),
// case aside, and carries something after it.
bool HasScheme(std::string_view authorization, std::string_view scheme) {
    return authorization.size() > scheme.size() &&
           boost::beast::iequals(boost::beast::string_view(authorization.data(), scheme.size()),
                                 boost::beast::string_view(scheme.data(), scheme.size()));
}

// HTTP Basic's user and password (both empty for a header that is not
// base64 of "USER:PASSWORD").
std::pair<std::string, std::string> BasicCredentials(std::string_view authorization) {
    const auto decoded = FromBase64(authorization.substr(6));
    const std::string pair = decoded ? std::string(decoded->begin(), decoded->end()) : "";
    const std::size_t colon = pair.find(':');
    if (colon == std::string::npos) {
        return {"", ""};
    }
    return {pair.substr(0, colon), pair.substr(colon + 1)};
}

// The names both roles' password files are counted under.
const std::vector<std::string>& BothRoles() {
    static const std::vector<std::string> names{std::string(RoleName(Role::Admin)),
                                                std::string(RoleName(Role::Operator))};
    return names;
}

std::string SessionCookie(const std::string& token, bool tls, long max_age) {
    return std::string(kSessionCookie) + "=" + token + "; HttpOnly; SameSite=Strict; Path=/; Max-Age=" +
           std::to_string(max_age) + (tls ? "; Secure" : "");
}

// Someone waiting for the exchanges of a change of one board or of a
// group's boards.
struct Waiting {
    HttpApi::Reply reply;
    bool group = false;
    std::vector<std::string> boards;
    std::vector<std::optional<std::vector<BoardStatus>>> results;
    bool answered = false;
};

} // namespace

HttpResponse ErrorResponse(int status, const std::string& error, const std::string& field) {
    Json json;
    // One line, whatever the reason holds.
    std::string line = error;
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    json["error"] = line;
    if (!field.empty()) {
        json["field"] = field;
    }
    return JsonResponse(status, json);
}

// Who a request comes from, once authenticated: the role, the name its
// changes are made under, and the session it came with (none for a token,
// Basic or a door without passwords, where everyone is the operator).
struct Caller {
    Identity who{Role::Operator, std::string(RoleName(Role::Operator))};
    std::optional<std::uint64_t> session;
};

struct HttpApi::Impl {
    BoardService& service;
    Settings settings;
    Post post;
    After after;
    Offload offload;
    Offload read_record;
    std::shared_ptr<Sessions> sessions_kept;
    Sessions& sessions;
    LoginThrottle throttle;

    Impl(BoardService& s, Settings set, Post p, After a, Offload o, Offload r)
        : service(s), settings(std::move(set)), post(std::move(p)), after(std::move(a)),
          offload(std::move(o)), read_record(std::move(r)),
          sessions_kept(settings.sessions ? settings.sessions : std::make_shared<Sessions>()),
          sessions(*sessions_kept) {}

    bool PasswordsRequired() const {
        return settings.credentials && settings.credentials->Required();
    }

    bool HasUsers() const { return settings.credentials && settings.credentials->HasUsers(); }

    // The roles a password of the login form without a name is tried for:
    // those with a password file, by their names.
    std::vector<std::string> LoginRoles() const {
        std::vector<std::string> roles;
        for (const Role role : {Role::Admin, Role::Operator}) {
            if (settings.credentials->HasPassword(role)) {
                roles.emplace_back(RoleName(role));
            }
        }
        return roles;
    }

    std::optional<HttpResponse> Throttled(const HttpRequest& request,
                                          const std::vector<std::string>& names) {
        if (const auto wait = throttle.Waiting(ClientOf(request.peer), names, Clock::now())) {
            HttpResponse response = ErrorResponse(
                429, "too many failed logins from this address; wait " + std::to_string(*wait) + " s");
            response.headers.emplace_back("Retry-After", std::to_string(*wait));
            return response;
        }
        return std::nullopt;
    }

    // Hands a refused login to `then` after kFailedLoginPause.
    template <class Then>
    void Slowly(Then then, HttpResponse refusal) {
        after(kFailedLoginPause, [then = std::move(then), refusal = std::move(refusal)]() mutable {
            then(std::move(refusal));
        });
    }

    static HttpResponse ChecksBusy() {
        HttpResponse response =
            ErrorResponse(503, "too many logins are being checked; try again in a moment");
        response.headers.emplace_back("Retry-After", "1");
        return response;
    }

    // Counts a login's outcome against its client and the names it tried:
    // a success clears the count of the name that logged in.
    void Judged(const std::string& client, const std::vector<std::string>& tried,
                const std::optional<Identity>& who) {
        if (who) {
            throttle.Succeeded(client, who->name);
        } else {
            throttle.Failed(client, tried, Clock::now());
        }
    }

    // What a password check came to: who logged in, nothing for a wrong
    // name or password, or `busy`: too many checks wait to take it now.
    struct Checked {
        bool busy = false;
        std::optional<Identity> who;
    };

    // Checks a password under `name` (empty: both roles' password files),
    // counted against the names `tried`, away from the door's thread unless
    // it is recognised; `then` gets what came of it on the door's thread.
    void CheckPassword(const std::string& client, std::vector<std::string> tried, std::string name,
                       std::string password, std::function<void(Checked)> then) {
        const auto credentials = settings.credentials;
        if (auto known = credentials->Recognised(name, password)) {
            Judged(client, tried, known);
            return then({false, std::move(known)});
        }
        const bool queued = offload(client, [this, credentials, client, tried = std::move(tried),
                                             name = std::move(name), password = std::move(password),
                                             then](bool in_time) mutable {
            if (!in_time) {
                return post([then] { then({true, std::nullopt}); });
            }
            auto who = credentials->Login(name, password);
            post([this, client, tried = std::move(tried), who = std::move(who), then] {
                Judged(client, tried, who);
                then({false, who});
            });
        });
        if (!queued) {
            then({true, std::nullopt});
        }
    }

    // The caller, or the answer that refuses it, handed to `then` (at once,
    // or on the door's thread once a password was checked).
    using Authenticated = std::function<void(std::variant<Caller, HttpResponse>)>;
    void Authenticate(const HttpRequest& request, Authenticated then) {
        if (!PasswordsRequired()) {
            return then(Caller{});
        }
        const std::string& authorization = request.authorization;
        const auto scheme = [&](std::string_view name) { return HasScheme(authorization, name); };
        const std::string client = ClientOf(request.peer);
        if (scheme("Bearer ")) {
            if (auto refused = Throttled(request, BothRoles())) {
                return Slowly(then, std::move(*refused));
            }
            auto who = settings.credentials->Bearer(std::string_view(authorization).substr(7));
            if (!who) {
                throttle.Failed(client, BothRoles(), Clock::now());
                return Slowly(then, ErrorResponse(401, "wrong user, password or token"));
            }
            return then(Caller{std::move(*who), std::nullopt});
        }
        if (scheme("Basic ")) {
            auto [user, password] = BasicCredentials(authorization);
            // A user that is no name is counted against both roles, as
            // guesses at their passwords.
            const std::vector<std::string> tried =
                IsUserName(user) ? std::vector<std::string>{user} : BothRoles();
            if (auto refused = Throttled(request, tried)) {
                return Slowly(then, std::move(*refused));
            }
            if (!settings.credentials->Checks(user)) {
                throttle.Failed(client, tried, Clock::now());
                return Slowly(then, ErrorResponse(401, "wrong user, password or token"));
            }
            return CheckPassword(
                client, tried, std::move(user), std::move(password), [this, then](Checked checked) {
                    if (checked.busy) {
                        return Slowly(then, ChecksBusy());
                    }
                    if (!checked.who) {
                        return Slowly(then, ErrorResponse(401, "wrong user, password or token"));
                    }
                    then(Caller{std::move(*checked.who), std::nullopt});
                });
        }
        const std::string token = CookieValue(request.cookie, kSessionCookie);
        if (!token.empty()) {
            if (const auto session = sessions.Find(token, Sessions::Clock::now())) {
                return then(Caller{session->who, session->id});
            }
        }
        then(ErrorResponse(401, "log in first"));
    }

    bool CarriesCredentials(const HttpRequest& request) {
        if (!PasswordsRequired()) {
            return false;
        }
        const std::string& authorization = request.authorization;
        const auto scheme = [&](std::string_view name) { return HasScheme(authorization, name); };
        if (scheme("Bearer ")) {
            return settings.credentials->Bearer(std::string_view(authorization).substr(7)).has_value();
        }
        if (scheme("Basic ")) {
            const auto [user, password] = BasicCredentials(authorization);
            return !user.empty() && settings.credentials->Recognised(user, password).has_value();
        }
        const std::string token = CookieValue(request.cookie, kSessionCookie);
        return !token.empty() && sessions.Find(token, Sessions::Clock::now()).has_value();
    }

    static std::optional<Json> ParseBody(const std::string& body) {
        Json json = Json::parse(body, nullptr, false);
        if (json.is_discarded()) {
            return std::nullopt;
        }
        return json;
    }

    void Handle(const HttpRequest& request, const Reply& reply) {
        const std::string_view target = request.target;
        const std::string_view path = target.substr(0, target.find('?'));
        if (!path.starts_with('/')) {
            return reply(ErrorResponse(400, "the request's target is no path"));
        }
        if (!HostAllowed(request.host, settings.port, settings.tls, settings.host_names)) {
            return reply(ErrorResponse(403, "the Host header does not name this service"));
        }
        const bool cross_origin_allowed =
            !settings.allow_origin.empty() && request.origin == settings.allow_origin;
        const std::vector<std::string> parts = Segments(path);
        const bool api = parts.size() >= 2 && parts[0] == "api";
        if (request.method == "OPTIONS") {
            if (!cross_origin_allowed || !api) {
                return reply(ErrorResponse(403, "no other origin may call this service"));
            }
            HttpResponse response;
            response.status = 204;
            response.content_type.clear();
            response.headers = {{"Access-Control-Allow-Methods", "GET, POST, DELETE"},
                                {"Access-Control-Allow-Headers", "Content-Type, Authorization"},
                                {"Access-Control-Max-Age", "600"}};
            return reply(std::move(response));
        }
        if (request.method == "POST" || request.method == "DELETE") {
            if (!request.origin.empty() && request.origin != OwnOrigin(request.host, settings.tls) &&
                !cross_origin_allowed) {
                return reply(ErrorResponse(403, "a POST from another origin is refused"));
            }
            if (request.method == "POST" && !IsJsonContentType(request.content_type)) {
                return reply(ErrorResponse(415, "a POST's body is JSON: Content-Type: application/json"));
            }
        } else if (request.method != "GET") {
            HttpResponse response = ErrorResponse(405, "the method is GET, POST or DELETE");
            response.headers.emplace_back("Allow", "GET, POST, DELETE");
            return reply(std::move(response));
        }
        if (!api) {
            return reply(PageFile(request, path));
        }
        Route(request, parts, reply);
    }

    HttpResponse PageFile(const HttpRequest& request, std::string_view path) {
        if (request.method != "GET") {
            return ErrorResponse(405, "the page's files are read with GET");
        }
        const std::string_view name = path == "/" ? std::string_view("index.html") : path.substr(1);
        for (const EmbeddedFile& file : PageFiles()) {
            if (file.name == name) {
                HttpResponse response;
                response.content_type = std::string(ContentTypeOf(name));
                response.body = std::string(file.bytes);
                response.headers = {{"Cache-Control", "no-cache"},
                                    {"X-Frame-Options", "DENY"},
                                    {"Content-Security-Policy", std::string(kPagePolicy)},
                                    {"Referrer-Policy", "no-referrer"}};
                return response;
            }
        }
        return ErrorResponse(404, "no such page or file");
    }

    static HttpResponse WrongMethod(const char* allowed) {
        HttpResponse response = ErrorResponse(405, std::string("the method here is ") + allowed);
        response.headers.emplace_back("Allow", allowed);
        return response;
    }

    void Route(const HttpRequest& request, const std::vector<std::string>& parts, const Reply& reply) {
        const std::string& method = request.method;
        const bool get = method == "GET";
        const std::string& what = parts[1];
        if (parts.size() == 2 && what == "openapi.json") {
            if (!get) {
                return reply(WrongMethod("GET"));
            }
            HttpResponse response;
            response.body = std::string(ApiDocuments().front().bytes);
            return reply(std::move(response));
        }
        if (parts.size() == 2 && what == "login") {
            if (method != "POST") {
                return reply(WrongMethod("POST"));
            }
            return Login(request, reply);
        }
        if (parts.size() == 2 && what == "logout") {
            if (method != "POST") {
                return reply(WrongMethod("POST"));
            }
            HttpResponse response;
            response.status = 204;
            response.content_type.clear();
            response.headers.emplace_back("Set-Cookie", SessionCookie("", settings.tls, 0));
            response.ended_session = sessions.Close(CookieValue(request.cookie, kSessionCookie));
            return reply(std::move(response));
        }
        const bool known = (parts.size() == 2 && (what == "session" || what == "events" ||
                                                  what == "boards")) ||
                           ((what == "boards" || what == "groups") && parts.size() >= 3 &&
                            parts.size() <= 4) ||
                           (what == "schedules" && parts.size() <= 3) ||
                           (what == "record" && parts.size() == 2);
        if (!known) {
            return reply(ErrorResponse(404, "no such API path"));
        }
        Authenticate(request, [this, request, parts, reply](std::variant<Caller, HttpResponse> who) {
            if (auto* refused = std::get_if<HttpResponse>(&who)) {
                // The page asks for its session before it shows the login:
                // told whether the login asks for a name.
                if (parts[1] == "session" && refused->status == 401 &&
                    request.authorization.empty()) {
                    return reply(
                        JsonResponse(401, {{"error", "log in first"}, {"names", HasUsers()}}));
                }
                return reply(std::move(*refused));
            }
            Serve(request, parts, std::get<Caller>(who), reply);
        });
    }

    // An API request of an authenticated caller.
    void Serve(const HttpRequest& request, const std::vector<std::string>& parts, const Caller& caller,
               const Reply& reply) {
        const Role role = caller.who.role;
        const bool get = request.method == "GET";
        const std::string& what = parts[1];
        if (what == "session") {
            if (!get) {
                return reply(WrongMethod("GET"));
            }
            return reply(JsonResponse(200, {{"role", std::string(RoleName(role))},
                                            {"name", caller.who.name},
                                            {"login", PasswordsRequired()},
                                            {"names", HasUsers()}}));
        }
        if (what == "events") {
            if (!get) {
                return reply(WrongMethod("GET"));
            }
            HttpResponse response;
            response.content_type = "text/event-stream";
            response.headers.emplace_back("Cache-Control", "no-store");
            response.event_stream = true;
            response.stream_session = caller.session;
            return reply(std::move(response));
        }
        if (what == "schedules") {
            return Schedules(request, parts, caller, reply);
        }
        if (what == "record") {
            return Record(request, reply);
        }
        const bool group = what == "groups";
        const bool settings_path =
            what == "boards" && parts.size() == 4 && parts[3] == "settings";
        if (settings_path && request.method == "DELETE") {
            return reply(WrongMethod("GET, POST"));
        }
        if (what == "boards" && ((parts.size() == 2 && request.method == "POST") ||
                                 (parts.size() == 3 && request.method == "DELETE") ||
                                 settings_path)) {
            return SetUp(request, parts, role, reply);
        }
        if (request.method == "DELETE") {
            return reply(WrongMethod(group ? "POST" : "GET, POST"));
        }
        if (parts.size() == 2) { // the boards
            if (!get) {
                return reply(WrongMethod("GET, POST"));
            }
            Json boards = Json::array();
            for (const std::string& name : service.BoardNames()) {
                boards.push_back(BoardJson(*service.Snapshot(name)));
            }
            return reply(JsonResponse(200, {{"boards", std::move(boards)}}));
        }
        const std::string& name = parts[2];
        const std::string command = parts.size() == 4 ? parts[3] : "";
        if (!command.empty() && command != "clock" && command != "init") {
            return reply(ErrorResponse(404, "no such API path"));
        }
        std::vector<std::string> boards;
        if (group) {
            boards = service.GroupMembers(name);
            if (boards.empty()) {
                return reply(ErrorResponse(404, "no group " + Named(name)));
            }
        } else {
            if (!service.HasBoard(name)) {
                return reply(ErrorResponse(404, "no board " + Named(name)));
            }
            boards.push_back(name);
        }
        if (get) {
            if (group || !command.empty()) {
                return reply(WrongMethod("POST"));
            }
            return reply(JsonResponse(200, BoardJson(*service.Snapshot(name))));
        }
        const auto body = ParseBody(request.body);
        if (!body) {
            return reply(ErrorResponse(400, "the body is no JSON"));
        }
        std::vector<BoardChange> changes;
        for (const std::string& board : boards) {
            std::variant<BoardChange, BodyRefusal> checked;
            if (command == "clock") {
                checked = ClockFromBody(*body, role);
            } else if (command == "init") {
                checked = InitFromBody(*body, role);
            } else {
                checked = ChangeFromBody(*body, *service.Rules(board), role);
            }
            if (auto* refusal = std::get_if<BodyRefusal>(&checked)) {
                const std::string field =
                    group && !refusal->field.empty() ? board + "." + refusal->field : refusal->field;
                return reply(ErrorResponse(refusal->status, refusal->error, field));
            }
            changes.push_back(std::get<BoardChange>(std::move(checked)));
        }
        // The change record keeps who asked, through this door, and what:
        // the request on one line (the record cuts it short).
        const std::string path(std::string_view(request.target).substr(0, request.target.find('?')));
        const ChangeOrigin origin{caller.who.name, "http", request.method + " " + path + " " + Dump(*body)};
        Submit(boards, std::move(changes), group, origin, reply);
    }

    // The change record, read away from the door's thread (its files may
    // be long): the changes a query asks for, as JSON or CSV. No request
    // changes or removes what it holds.
    void Record(const HttpRequest& request, const Reply& reply) {
        if (request.method != "GET") {
            return reply(WrongMethod("GET"));
        }
        const std::string_view target = request.target;
        const std::size_t mark = target.find('?');
        const auto asked =
            RecordRequestFromQuery(mark == std::string_view::npos ? "" : target.substr(mark + 1));
        if (const auto* refusal = std::get_if<BodyRefusal>(&asked)) {
            return reply(ErrorResponse(refusal->status, refusal->error, refusal->field));
        }
        const RecordRequest wanted = std::get<RecordRequest>(asked);
        const std::string& board = wanted.query.board;
        if (!board.empty() && !service.HasBoard(board)) {
            return reply(ErrorResponse(404, "no board " + Named(board)));
        }
        const auto busy = [] {
            HttpResponse response =
                ErrorResponse(503, "too many readings of the record wait; try again in a moment");
            response.headers.emplace_back("Retry-After", "1");
            return response;
        };
        const bool queued =
            read_record(ClientOf(request.peer), [this, wanted, reply, busy](bool in_time) {
                if (!in_time) {
                    return post([reply, busy] { reply(busy()); });
                }
                auto answer = std::make_shared<HttpResponse>(RecordAnswer(wanted));
                post([reply, answer] { reply(std::move(*answer)); });
            });
        if (!queued) {
            reply(busy());
        }
    }

    // What a reading of the record answers: {"entries": [...]}, or CSV.
    HttpResponse RecordAnswer(const RecordRequest& wanted) const {
        const auto entries = service.Record(wanted.query);
        if (!entries) {
            return ErrorResponse(404, "this service keeps no change record");
        }
        if (!wanted.csv) {
            return JsonResponse(200, {{"entries", *entries}});
        }
        HttpResponse response;
        response.content_type = "text/csv; charset=utf-8";
        response.body = RecordCsv(*entries);
        response.headers = {{"Content-Disposition", "attachment; filename=\"record.csv\""},
                            {"Cache-Control", "no-store"}};
        return response;
    }

    // Changes on time: the list, one schedule, a new one (its change
    // checked as a POST of it would be now), and a cancellation.
    void Schedules(const HttpRequest& request, const std::vector<std::string>& parts,
                   const Caller& caller, const Reply& reply) {
        const std::string& method = request.method;
        if (parts.size() == 2) {
            if (method == "GET") {
                return reply(JsonResponse(200, service.SchedulesJson()));
            }
            if (method != "POST") {
                return reply(WrongMethod("GET, POST"));
            }
            const auto body = ParseBody(request.body);
            if (!body) {
                return reply(ErrorResponse(400, "the body is no JSON"));
            }
            auto made = service.AddSchedule(*body, caller.who.role, caller.who.name);
            if (const auto* refusal = std::get_if<BodyRefusal>(&made)) {
                return reply(ErrorResponse(refusal->status, refusal->error, refusal->field));
            }
            return reply(JsonResponse(201, std::get<Json>(made)));
        }
        const std::string& id = parts[2];
        if (method == "GET") {
            const auto schedule = service.ScheduleJson(id);
            if (!schedule) {
                return reply(ErrorResponse(404, "no schedule " + Named(id)));
            }
            return reply(JsonResponse(200, *schedule));
        }
        if (method != "DELETE") {
            return reply(WrongMethod("GET, DELETE"));
        }
        if (const auto refusal = service.CancelSchedule(id, caller.who.role)) {
            const std::string error =
                refusal->status == 404 ? "no schedule " + Named(id) : refusal->error;
            return reply(ErrorResponse(refusal->status, error, refusal->field));
        }
        HttpResponse response;
        response.status = 204;
        response.content_type.clear();
        return reply(std::move(response));
    }

    // Setting boards up (admin only): a board's settings read and changed,
    // a board added and removed.
    void SetUp(const HttpRequest& request, const std::vector<std::string>& parts, Role role,
               const Reply& reply) {
        if (role != Role::Admin) {
            return reply(ErrorResponse(403, "only an admin may set boards up"));
        }
        const bool get = request.method == "GET";
        if (parts.size() == 3) {
            const std::string& name = parts[2];
            const auto refusal = service.RemoveBoard(name);
            if (refusal) {
                return reply(SetupRefused(*refusal, name));
            }
            HttpResponse response;
            response.status = 204;
            response.content_type.clear();
            return reply(std::move(response));
        }
        std::optional<Json> body;
        if (!get) {
            body = ParseBody(request.body);
            if (!body) {
                return reply(ErrorResponse(400, "the body is no JSON"));
            }
        }
        if (parts.size() == 4) {
            const std::string& name = parts[2];
            if (!service.HasBoard(name)) {
                return reply(ErrorResponse(404, "no board " + Named(name)));
            }
            if (get) {
                return reply(JsonResponse(200, SetupJson(*service.Setup(name))));
            }
            const auto change = SetupFromBody(*body);
            if (const auto* refusal = std::get_if<BodyRefusal>(&change)) {
                return reply(ErrorResponse(refusal->status, refusal->error, refusal->field));
            }
            const auto done = service.ChangeSetup(name, std::get<SetupChange>(change));
            if (const auto* refusal = std::get_if<SetupRefusal>(&done)) {
                return reply(SetupRefused(*refusal, name));
            }
            return reply(JsonResponse(200, SetupJson(std::get<BoardSetup>(done))));
        }
        // A new board: {"name": ..., "settings": {...}}.
        if (!body->is_object()) {
            return reply(ErrorResponse(422, "the body is a JSON object", ""));
        }
        for (const auto& [key, value] : body->items()) {
            if (key != "name" && key != "settings") {
                return reply(ErrorResponse(422, "a new board has a name and settings only", key));
            }
        }
        if (!body->contains("name") || !(*body)["name"].is_string()) {
            return reply(ErrorResponse(422, "a new board's name is a string", "name"));
        }
        const std::string name = (*body)["name"].get<std::string>();
        SetupChange setup;
        if (body->contains("settings")) {
            auto change = SetupFromBody((*body)["settings"]);
            if (const auto* refusal = std::get_if<BodyRefusal>(&change)) {
                return reply(ErrorResponse(refusal->status, refusal->error,
                                           "settings" + (refusal->field.empty()
                                                             ? std::string()
                                                             : "." + refusal->field)));
            }
            setup = std::get<SetupChange>(std::move(change));
        }
        const auto done = service.AddBoard(name, setup);
        if (const auto* refusal = std::get_if<SetupRefusal>(&done)) {
            SetupRefusal named = *refusal;
            if (!named.field.empty() && named.field != "name") {
                named.field = "settings." + named.field;
            }
            return reply(SetupRefused(named, name));
        }
        return reply(JsonResponse(201, BoardJson(*service.Snapshot(name))));
    }

    static HttpResponse SetupRefused(const SetupRefusal& refusal, const std::string& name) {
        switch (refusal.kind) {
        case SetupRefusal::Kind::NoBoard:
            return ErrorResponse(404, "no board " + Named(name));
        case SetupRefusal::Kind::Conflict:
            return ErrorResponse(409, refusal.error, refusal.field);
        case SetupRefusal::Kind::Locked: {
            HttpResponse response = ErrorResponse(503, refusal.error);
            response.headers.emplace_back("Retry-After", "2");
            return response;
        }
        case SetupRefusal::Kind::Failed:
            return ErrorResponse(500, refusal.error);
        case SetupRefusal::Kind::Invalid:
            break;
        }
        return ErrorResponse(422, refusal.error, refusal.field);
    }

    // The page's login: {"password"} tries both roles' password files;
    // {"name", "password"} the role's file for "operator" or "admin", the
    // users file for any other name.
    void Login(const HttpRequest& request, const Reply& reply) {
        if (!PasswordsRequired()) {
            return reply(ErrorResponse(400, "this service has no passwords: no login needed"));
        }
        const auto body = ParseBody(request.body);
        if (!body) {
            return reply(ErrorResponse(400, "the body is no JSON"));
        }
        if (!body->is_object() || !body->contains("password") || !(*body)["password"].is_string()) {
            return reply(ErrorResponse(
                422, "the body is {\"password\": \"...\"} or {\"name\": \"...\", \"password\": \"...\"}",
                "password"));
        }
        const auto given_name = body->find("name");
        if (given_name != body->end() && !given_name->is_string()) {
            return reply(ErrorResponse(422, "a name is a string", "name"));
        }
        std::string name = given_name == body->end() ? "" : given_name->get<std::string>();
        if (!name.empty() && !IsUserName(name)) {
            return reply(
                ErrorResponse(422, "a name has 1 to 64 letters, digits, '.', '_' or '-'", "name"));
        }
        std::vector<std::string> tried =
            name.empty() ? LoginRoles() : std::vector<std::string>{name};
        if (tried.empty()) {
            return reply(ErrorResponse(422, "this service logs in by name", "name"));
        }
        if (auto refused = Throttled(request, tried)) {
            return Slowly(reply, std::move(*refused));
        }
        const std::string wrong = name.empty() ? "wrong password" : "wrong name or password";
        const std::string client = ClientOf(request.peer);
        if (!name.empty() && !settings.credentials->Checks(name)) {
            throttle.Failed(client, tried, Clock::now());
            return Slowly(reply, ErrorResponse(401, wrong));
        }
        CheckPassword(
            client, std::move(tried), std::move(name), (*body)["password"].get<std::string>(),
            [this, reply, wrong](Checked checked) {
                if (checked.busy) {
                    return Slowly(reply, ChecksBusy());
                }
                if (!checked.who) {
                    return Slowly(reply, ErrorResponse(401, wrong));
                }
                const Identity& who = *checked.who;
                const auto token = sessions.Open(who, Sessions::Clock::now());
                if (!token) {
                    return reply(
                        ErrorResponse(503, "no session could be made (the system's random source failed)"));
                }
                HttpResponse response = JsonResponse(
                    200, {{"role", std::string(RoleName(who.role))}, {"name", who.name}});
                response.headers.emplace_back(
                    "Set-Cookie",
                    SessionCookie(*token, settings.tls, static_cast<long>(kSessionLifetime.count())));
                reply(std::move(response));
            });
    }

    void Submit(const std::vector<std::string>& boards, std::vector<BoardChange> changes, bool group,
                const ChangeOrigin& origin, const Reply& reply) {
        auto waiting = std::make_shared<Waiting>();
        waiting->reply = reply;
        waiting->group = group;
        waiting->boards = boards;
        waiting->results.resize(boards.size());
        std::chrono::milliseconds limit{0};
        for (std::size_t i = 0; i < boards.size(); ++i) {
            limit = std::max(limit, service.WaitLimit(boards[i], changes[i]));
        }
        for (std::size_t i = 0; i < boards.size(); ++i) {
            service.Submit(boards[i], std::move(changes[i]),
                           [this, waiting, i](const std::vector<BoardStatus>& statuses) {
                               post([this, waiting, i, statuses] {
                                   waiting->results[i] = statuses;
                                   Answer(*waiting, false);
                               });
                           },
                           origin);
        }
        after(limit, [this, waiting] { Answer(*waiting, true); });
    }

    // Answers once: when every board's exchanges are over, or at the time
    // limit with what is known then.
    void Answer(Waiting& waiting, bool limit_reached) {
        if (waiting.answered) {
            return;
        }
        const bool all = std::all_of(waiting.results.begin(), waiting.results.end(),
                                     [](const auto& result) { return result.has_value(); });
        if (!all && !limit_reached) {
            return;
        }
        waiting.answered = true;
        Json json;
        if (waiting.group) {
            Json results = Json::array();
            for (std::size_t i = 0; i < waiting.boards.size(); ++i) {
                Json result{{"board", waiting.boards[i]},
                            {"statuses", StatusesJson(waiting.results[i].value_or(std::vector<BoardStatus>{}))}};
                if (!waiting.results[i]) {
                    result["pending"] = true;
                }
                results.push_back(std::move(result));
            }
            json["results"] = std::move(results);
        } else {
            json["board"] = BoardJson(*service.Snapshot(waiting.boards[0]));
            json["statuses"] = StatusesJson(waiting.results[0].value_or(std::vector<BoardStatus>{}));
        }
        if (!all) {
            json["pending"] = true;
        }
        waiting.reply(JsonResponse(all ? 200 : 202, json));
        waiting.reply = nullptr;
    }

    std::optional<std::string> EventText(const BoardEvent& event) {
        std::string name;
        Json data;
        if (const auto* stored = std::get_if<StoredEvent>(&event)) {
            name = "state";
            data = BoardJson(stored->board);
        } else if (const auto* shown = std::get_if<ShownEvent>(&event)) {
            name = "state";
            data = BoardJson(shown->board);
        } else if (const auto* status = std::get_if<StatusEvent>(&event)) {
            name = "status";
            data = StatusObject(status->status);
        } else if (const auto* availability = std::get_if<AvailabilityEvent>(&event)) {
            name = "availability";
            data = {{"board", availability->board},
                    {"availability", std::string(AvailabilityName(availability->availability))}};
        } else if (const auto* setup = std::get_if<SetUpEvent>(&event)) {
            name = setup->added ? "added" : "state";
            data = BoardJson(setup->board);
        } else if (const auto* removed = std::get_if<RemovedEvent>(&event)) {
            name = "removed";
            data = {{"board", removed->board}};
        } else if (const auto* fresh = std::get_if<FreshnessEvent>(&event)) {
            name = "state";
            data = BoardJson(fresh->board);
        } else if (const auto* schedules = std::get_if<SchedulesEvent>(&event)) {
            return EventLines("schedules", schedules->json);
        } else {
            return std::nullopt;
        }
        return EventLines(name, Dump(data));
    }

    // One Server-Sent Event: a "data:" line for every line of the text, so
    // a text that spans lines still reaches the client whole.
    static std::string EventLines(std::string_view name, std::string_view text) {
        std::string event = "event: " + std::string(name) + "\n";
        while (true) {
            const std::size_t end = text.find('\n');
            event += "data: ";
            event += text.substr(0, end);
            event += "\n";
            if (end == std::string_view::npos) {
                break;
            }
            text.remove_prefix(end + 1);
        }
        return event + "\n";
    }
};

HttpApi::HttpApi(BoardService& service, Settings settings, Post post, After after, Offload offload,
                 Offload read_record)
    : impl_(std::make_unique<Impl>(service, std::move(settings), std::move(post), std::move(after),
                                   std::move(offload), std::move(read_record))) {}

HttpApi::~HttpApi() = default;

void HttpApi::Handle(const HttpRequest& request, Reply reply) {
    const bool cross_origin = !impl_->settings.allow_origin.empty() &&
                              request.origin == impl_->settings.allow_origin;
    impl_->Handle(request, [reply = std::move(reply), cross_origin, tls = impl_->settings.tls,
                            origin = request.origin](HttpResponse response) {
        response.headers.emplace_back("X-Content-Type-Options", "nosniff");
        if (tls) {
            response.headers.emplace_back("Strict-Transport-Security", std::string(kStrictTransport));
        }
        if (cross_origin) {
            response.headers.emplace_back("Access-Control-Allow-Origin", origin);
            response.headers.emplace_back("Vary", "Origin");
        }
        if (response.content_type == "application/json") {
            response.headers.emplace_back("Cache-Control", "no-store");
        }
        reply(std::move(response));
    });
}

bool HttpApi::CarriesCredentials(const HttpRequest& request) {
    return impl_->CarriesCredentials(request);
}

bool HttpApi::SessionOpen(std::uint64_t session) {
    return impl_->sessions.IsOpen(session, Sessions::Clock::now());
}

std::optional<std::string> HttpApi::EventText(const BoardEvent& event) {
    return impl_->EventText(event);
}

} // namespace lumidex
