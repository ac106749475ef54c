// The HTTP door's pure rules: which Host and listen addresses and origins
// it takes, its [http] section, password lines (the same on Linux and
// Windows), users and tokens, the login pause, the change bodies it
// turns into board changes, and the query of a reading of the record. The
// door itself, end to end, is test_http_api.py.
#include "boards/time_zone.h"
#include "tools/bridge/http/auth.h"
#include "tools/bridge/http/body.h"
#include "tools/bridge/http/rules.h"
#include "tools/bridge/http/settings.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace lumidex {
namespace {

TEST(HttpRules, HostHeaders) {
    const std::vector<std::string> names{"pump-pc", "pump-pc.local"};
    struct Row {
        const char* host;
        int port;
        bool tls;
        bool allowed;
    } rows[] = {
        {"127.0.0.1:8080", 8080, false, true},
        {"192.168.1.20:8080", 8080, false, true},
        {"[::1]:8080", 8080, false, true},
        {"localhost:8080", 8080, false, true},
        {"LOCALHOST:8080", 8080, false, true},
        {"Pump-PC:8080", 8080, false, true},
        {"pump-pc.local:8080", 8080, false, true},
        {"10.0.0.5", 80, false, true},   // no port: 80 ...
        {"10.0.0.5", 443, true, true},   // ... or 443 over TLS
        {"10.0.0.5", 8080, false, false},
        {"127.0.0.1:8081", 8080, false, false},
        {"attacker.example:8080", 8080, false, false}, // DNS rebinding
        {"127.0.0.1.nip.io:8080", 8080, false, false},
        {"", 8080, false, false},
        {":8080", 8080, false, false},
        {"127.0.0.1:", 8080, false, false},
        {"127.0.0.1:8080x", 8080, false, false},
        {"[::1", 8080, false, false},
        {"[evil]:8080", 8080, false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(HostAllowed(row.host, row.port, row.tls, names), row.allowed) << row.host;
    }
}

TEST(HttpRules, ListenAddresses) {
    struct Row {
        const char* text;
        const char* host; // nullptr: refused
        int port;
    } rows[] = {
        {"127.0.0.1:8080", "127.0.0.1", 8080}, {"0.0.0.0:80", "0.0.0.0", 80},
        {"[::1]:8080", "::1", 8080},           {"localhost:9000", "127.0.0.1", 9000},
        {"[::]:1", "::", 1},                   {"example.org:80", nullptr, 0},
        {"127.0.0.1", nullptr, 0},             {"127.0.0.1:0", nullptr, 0},
        {"127.0.0.1:65536", nullptr, 0},       {"256.0.0.1:80", nullptr, 0},
        {"::1:8080", nullptr, 0},              {"", nullptr, 0},
    };
    for (const Row& row : rows) {
        const auto parsed = ParseListen(row.text);
        ASSERT_EQ(parsed.has_value(), row.host != nullptr) << row.text;
        if (parsed) {
            EXPECT_EQ(parsed->host, row.host);
            EXPECT_EQ(parsed->port, row.port);
        }
    }
    EXPECT_TRUE(IsLoopbackHost("127.0.0.1"));
    EXPECT_TRUE(IsLoopbackHost("127.9.9.9"));
    EXPECT_TRUE(IsLoopbackHost("::1"));
    EXPECT_FALSE(IsLoopbackHost("0.0.0.0"));
    EXPECT_FALSE(IsLoopbackHost("::"));
    EXPECT_FALSE(IsLoopbackHost("128.0.0.1"));
}

TEST(HttpRules, WebOrigins) {
    for (const char* taken : {"https://intranet.example", "http://rates.example:8080",
                              "http://10.0.0.5", "https://[::1]:8443", "http://pump-pc"}) {
        EXPECT_TRUE(IsWebOrigin(taken)) << taken;
    }
    for (const char* refused :
         {"intranet.example", "ftp://intranet.example", "https://", "https://intranet.example/",
          "https://intranet.example:", "https://intranet.example:65536", "https://[evil]",
          "https://[::g]", "https://::1", "https://in tranet.example",
          "HTTPS://intranet.example"}) {
        EXPECT_FALSE(IsWebOrigin(refused)) << refused;
    }
}

TEST(HttpSettings, ReadsTheHttpSection) {
    BridgeConfig boards;
    boards.doors["http"] = DoorSection{"/site/boards.ini",
                                       "HTTP",
                                       {{"listen", "[::1]:8080"},
                                        {"admin-password-file", "admin.pass"},
                                        {"tls-cert", "/etc/lumidex/cert.pem"},
                                        {"allow-origin", "https://intranet.example"}}};
    std::string error;
    const auto http = ReadHttpConfig(boards, error);
    ASSERT_TRUE(http) << error;
    EXPECT_EQ(http->listen, "[::1]:8080");
    EXPECT_EQ(http->admin_password_file.path, std::filesystem::absolute("/site/admin.pass"));
    EXPECT_EQ(http->operator_password_file.path, std::filesystem::path());
    EXPECT_EQ(http->tls_cert.path, std::filesystem::absolute("/etc/lumidex/cert.pem"));
    EXPECT_EQ(http->allow_origin, "https://intranet.example");

    boards.doors["http"].values["allow-origin"] = "intranet.example";
    EXPECT_FALSE(ReadHttpConfig(boards, error));
    EXPECT_EQ(error, "/site/boards.ini: [HTTP] allow-origin: wants an origin like "
                     "https://host[:port], got 'intranet.example'");
}

TEST(HttpRules, ClientsAndCodings) {
    const std::pair<const char*, const char*> clients[] = {
        {"192.168.1.20", "192.168.1.20"},
        {"::ffff:192.168.1.20", "192.168.1.20"},
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"not an address", "not an address"},
    };
    for (const auto& [address, client] : clients) {
        EXPECT_EQ(ClientOf(address), client) << address;
    }
    for (const char* taken : {"chunked", "Chunked", " chunked "}) {
        EXPECT_TRUE(IsOnlyChunked(taken)) << taken;
    }
    for (const char* refused : {"identity", "gzip", "chunked, identity", "gzip, chunked", "", "chunked;x"}) {
        EXPECT_FALSE(IsOnlyChunked(refused)) << refused;
    }
}

TEST(HttpRules, HeadersAndFiles) {
    EXPECT_TRUE(IsJsonContentType("application/json"));
    EXPECT_TRUE(IsJsonContentType("Application/JSON; charset=utf-8"));
    EXPECT_FALSE(IsJsonContentType("text/plain"));
    EXPECT_FALSE(IsJsonContentType("application/json-patch+json"));
    EXPECT_FALSE(IsJsonContentType(""));
    EXPECT_EQ(CookieValue("a=1; lumidex_session=abc; b=2", "lumidex_session"), "abc");
    EXPECT_EQ(CookieValue("xlumidex_session=abc", "lumidex_session"), "");
    EXPECT_EQ(CookieValue("", "lumidex_session"), "");
    EXPECT_EQ(ContentTypeOf("index.html"), "text/html; charset=utf-8");
    EXPECT_EQ(ContentTypeOf("APP.JS"), "text/javascript; charset=utf-8");
    EXPECT_EQ(ContentTypeOf("dseg7.ttf"), "font/ttf");
    EXPECT_EQ(ContentTypeOf("notes"), "application/octet-stream");
    EXPECT_EQ(OwnOrigin("Pump-PC:8080", false), "http://pump-pc:8080");
    EXPECT_EQ(OwnOrigin("10.0.0.5", true), "https://10.0.0.5");
}

// A line whose hash Python's hashlib made (PBKDF2-HMAC-SHA256, 1000 rounds,
// salt "0123456789abcdef"): both systems' implementations must agree with it.
constexpr const char* kForeignLine =
    "pbkdf2-sha256$1000$MDEyMzQ1Njc4OWFiY2RlZg==$g58Lj0K+xgyk6ic/BOfhkvJE4LrVt/vJ7O2F2QN1Z+c=";

TEST(HttpAuth, PasswordLines) {
    EXPECT_TRUE(PasswordMatches(kForeignLine, "pump-4711"));
    EXPECT_TRUE(PasswordMatches(std::string(kForeignLine) + "\r\n", "pump-4711"));
    EXPECT_FALSE(PasswordMatches(kForeignLine, "pump-4712"));
    EXPECT_FALSE(PasswordMatches(kForeignLine, ""));
    const auto line = HashPasswordLine("back office!", 2000);
    ASSERT_TRUE(line);
    EXPECT_TRUE(IsPasswordLine(*line));
    EXPECT_TRUE(PasswordMatches(*line, "back office!"));
    EXPECT_FALSE(PasswordMatches(*line, "back office"));
    EXPECT_NE(*line, *HashPasswordLine("back office!", 2000)) << "a fresh salt each time";
    for (const char* broken : {"", "pbkdf2-sha256$1000$MDEy$g58L", "plain-password",
                               "pbkdf2-sha256$999$MDEyMzQ1Njc4OWFiY2RlZg==$g58Lj0K+xgyk6ic/BOfhkvJE4LrVt/vJ7O2F2QN1Z+c=",
                               "pbkdf2-sha1$1000$MDEyMzQ1Njc4OWFiY2RlZg==$g58Lj0K+xgyk6ic/BOfhkvJE4LrVt/vJ7O2F2QN1Z+c=",
                               "pbkdf2-sha256$1000$MDEyMzQ1Njc4OWFiY2RlZg==$g58Lj0K+xgyk6ic/BOfhkvJE4LrVt/vJ7O2F2QN1Z+c=$"}) {
        EXPECT_FALSE(IsPasswordLine(broken)) << broken;
        EXPECT_FALSE(PasswordMatches(broken, "pump-4711")) << broken;
    }
}

TEST(HttpAuth, Base64RoundTrip) {
    for (std::size_t length = 0; length < 40; ++length) {
        std::vector<std::uint8_t> bytes(length);
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
        }
        EXPECT_EQ(FromBase64(Base64(bytes)), bytes) << length;
    }
    EXPECT_EQ(Base64({'a', 'd', 'm', 'i', 'n'}), "YWRtaW4=");
    for (const char* bad : {"YWRtaW4", "YW=taW4=", "YWRt====", "YWR!aW4="}) {
        EXPECT_FALSE(FromBase64(bad)) << bad;
    }
}

TEST(HttpAuth, TokensAndRoles) {
    std::string error;
    const auto tokens = ParseTokens("# scripts\r\n\nadmin 0123456789abcdefXYZ\n"
                                    "  operator\tfedcba9876543210  price-feed\n",
                                    error);
    ASSERT_TRUE(tokens) << error;
    ASSERT_EQ(tokens->size(), 2u);
    Credentials credentials(std::nullopt, std::string(kForeignLine), *tokens);
    EXPECT_TRUE(credentials.Required());
    EXPECT_EQ(credentials.Bearer("0123456789abcdefXYZ"), (Identity{Role::Admin, "admin"}));
    EXPECT_EQ(credentials.Bearer("fedcba9876543210"), (Identity{Role::Operator, "price-feed"}));
    EXPECT_EQ(credentials.Bearer("0123456789abcdefXY"), std::nullopt);
    EXPECT_EQ(credentials.Bearer(""), std::nullopt);
    const Identity admin{Role::Admin, "admin"};
    EXPECT_EQ(credentials.Login("", "pump-4711"), admin);
    EXPECT_EQ(credentials.Login("admin", "pump-4711"), admin);
    EXPECT_EQ(credentials.Recognised("admin", "pump-4711"), admin) << "recognised the second time";
    EXPECT_EQ(credentials.Login("operator", "pump-4711"), std::nullopt) << "no operator password";
    EXPECT_EQ(credentials.Login("root", "pump-4711"), std::nullopt);
    for (const char* bad : {"admin short", "guest 0123456789abcdef", "admin",
                            "admin 0123456789abcdef feed extra", "admin 0123456789abcdef a/b",
                            "operator 0123456789abcdef admin"}) {
        EXPECT_FALSE(ParseTokens(bad, error)) << bad;
        EXPECT_NE(error.find("line 1"), std::string::npos);
    }
}

TEST(HttpAuth, UsersFiles) {
    const std::string alice = *HashPasswordLine("alice's own", 1000);
    const std::string dana = *HashPasswordLine("dana's own", 1000);
    const std::string longest(64, 'x');
    std::string error;
    const auto users =
        ParseUsers("# people\r\n\nalice operator " + alice + "\r\n  dana.k-2_\tadmin  " + dana +
                       "\n" + longest + " operator " + alice + "\n",
                   error);
    ASSERT_TRUE(users) << error;
    ASSERT_EQ(users->size(), 3u);
    EXPECT_EQ((std::pair{users->at(1).name, users->at(1).role}),
              (std::pair{std::string("dana.k-2_"), Role::Admin}));
    EXPECT_EQ(users->at(2).name, longest);

    // Each refusal names its line.
    const std::pair<std::string, std::string> refused[] = {
        {"alice operator", "line 1: wants NAME ROLE HASH"},
        {"# people\n\nalice guest " + alice, "line 3: wants NAME ROLE HASH"},
        {"alice operator plain-password", "line 1: wants NAME ROLE HASH"},
        {"alice operator " + alice + " extra", "line 1: wants NAME ROLE HASH"},
        {"alice/x operator " + alice, "line 1: wants NAME ROLE HASH"},
        {std::string(65, 'x') + " operator " + alice, "line 1: wants NAME ROLE HASH"},
        {"admin admin " + alice, "line 1: admin is a role's name"},
        {"alice operator " + alice + "\n# again\nalice admin " + dana,
         "line 3: alice is named twice (first on line 1)"},
    };
    for (const auto& [text, says] : refused) {
        EXPECT_FALSE(ParseUsers(text, error)) << text;
        EXPECT_EQ(error.substr(0, says.size()), says) << text;
    }

    // Who logs in under which name: the roles' names and no name go to the
    // roles' files (here the operator's alone), any other to the users file.
    Credentials credentials(std::string(kForeignLine), std::nullopt, {}, *users);
    const Identity operator_role{Role::Operator, "operator"};
    const Identity alice_who{Role::Operator, "alice"};
    const Identity dana_who{Role::Admin, "dana.k-2_"};
    const struct {
        const char* name;
        const char* password;
        std::optional<Identity> who;
    } logins[] = {
        {"alice", "alice's own", alice_who},
        {"dana.k-2_", "dana's own", dana_who},
        {"dana.k-2_", "alice's own", std::nullopt},
        {"Alice", "alice's own", std::nullopt},
        {"nobody", "alice's own", std::nullopt},
        {"", "alice's own", std::nullopt},
        {"", "pump-4711", operator_role},
        {"operator", "pump-4711", operator_role},
        {"admin", "pump-4711", std::nullopt},
        {"alice", "pump-4711", std::nullopt},
        {"alice:x", "alice's own", std::nullopt},
    };
    for (const auto& login : logins) {
        EXPECT_EQ(credentials.Login(login.name, login.password), login.who)
            << login.name << " / " << login.password;
        EXPECT_EQ(credentials.Recognised(login.name, login.password), login.who)
            << "recognised as checked: " << login.name << " / " << login.password;
    }
    EXPECT_TRUE(credentials.Checks("nobody"));
    EXPECT_TRUE(credentials.Checks("operator"));
    EXPECT_FALSE(credentials.Checks("admin")) << "no admin password file";
    EXPECT_FALSE(credentials.Checks("a b"));
    EXPECT_TRUE(credentials.Knows(alice_who));
    EXPECT_TRUE(credentials.Knows(operator_role));
    EXPECT_FALSE(credentials.Knows({Role::Admin, "alice"})) << "another role now";
    EXPECT_FALSE(credentials.Knows({Role::Operator, "gone"})) << "no longer in the file";
}

// Failures count per client and per name tried; only that name's success
// clears them, and every further round doubles the wait.
TEST(HttpAuth, FailedLoginsWaitPerClientAndRole) {
    using std::chrono::seconds;
    const std::vector<std::string> admin{"admin"};
    const std::vector<std::string> both{"admin", "operator"};
    const std::vector<std::string> operator_role{"operator"};
    struct Step {
        const char* what;
        enum { Fail, Succeed, Expect } kind;
        const char* client;
        std::vector<std::string> names;
        int at_seconds;
        std::optional<long> waiting; // for Expect
    };
    const Step steps[] = {
        {"four wrong admin guesses", Step::Fail, "10.0.0.9", admin, 0, {}},
        {"", Step::Fail, "10.0.0.9", admin, 0, {}},
        {"", Step::Fail, "10.0.0.9", admin, 0, {}},
        {"", Step::Fail, "10.0.0.9", admin, 0, {}},
        {"may still try", Step::Expect, "10.0.0.9", admin, 0, std::nullopt},
        {"the operator's own password", Step::Succeed, "10.0.0.9", operator_role, 0, {}},
        {"the fifth admin guess", Step::Fail, "10.0.0.9", admin, 1, {}},
        {"the operator's success cleared nothing", Step::Expect, "10.0.0.9", admin, 1, 30},
        {"the login form tries admin too", Step::Expect, "10.0.0.9", both, 2, 29},
        {"Basic as operator may go on", Step::Expect, "10.0.0.9", operator_role, 2, std::nullopt},
        {"another client may try", Step::Expect, "10.0.0.8", admin, 2, std::nullopt},
        {"the wait ends", Step::Expect, "10.0.0.9", admin, 31, std::nullopt},
        {"five more", Step::Fail, "10.0.0.9", admin, 40, {}},
        {"", Step::Fail, "10.0.0.9", admin, 40, {}},
        {"", Step::Fail, "10.0.0.9", admin, 40, {}},
        {"", Step::Fail, "10.0.0.9", admin, 40, {}},
        {"", Step::Fail, "10.0.0.9", admin, 40, {}},
        {"wait twice as long", Step::Expect, "10.0.0.9", admin, 40, 60},
        {"the admin's own success clears it", Step::Succeed, "10.0.0.9", admin, 41, {}},
        {"cleared", Step::Expect, "10.0.0.9", both, 41, std::nullopt},
        {"a form's wrong password counts for both", Step::Fail, "10.0.0.7", both, 50, {}},
        {"", Step::Fail, "10.0.0.7", both, 50, {}},
        {"", Step::Fail, "10.0.0.7", both, 50, {}},
        {"", Step::Fail, "10.0.0.7", both, 50, {}},
        {"", Step::Fail, "10.0.0.7", both, 50, {}},
        {"both wait", Step::Expect, "10.0.0.7", operator_role, 50, 30},
        {"an hour later four failures do not wait", Step::Fail, "10.0.0.7", admin, 3700, {}},
        {"", Step::Fail, "10.0.0.7", admin, 3700, {}},
        {"", Step::Fail, "10.0.0.7", admin, 3700, {}},
        {"", Step::Fail, "10.0.0.7", admin, 3700, {}},
        {"forgotten", Step::Expect, "10.0.0.7", admin, 3700, std::nullopt},
    };
    LoginThrottle throttle;
    const auto start = LoginThrottle::Clock::time_point{} + std::chrono::hours{1};
    for (const Step& step : steps) {
        const auto now = start + seconds{step.at_seconds};
        switch (step.kind) {
        case Step::Fail:
            throttle.Failed(step.client, step.names, now);
            break;
        case Step::Succeed:
            throttle.Succeeded(step.client, step.names.front());
            break;
        case Step::Expect:
            EXPECT_EQ(throttle.Waiting(step.client, step.names, now), step.waiting) << step.what;
            break;
        }
    }
}

TEST(HttpAuth, SessionsOfOneNameNeverEndAnothers) {
    Sessions sessions;
    const Identity dana{Role::Admin, "dana"};
    const Identity alice{Role::Operator, "alice"};
    const Identity bob{Role::Operator, "bob"};
    const auto start = Sessions::Clock::time_point{} + std::chrono::hours{1};
    const auto admin = sessions.Open(dana, start);
    ASSERT_TRUE(admin);
    EXPECT_EQ(admin->size(), 64u);
    const auto alices = sessions.Open(alice, start);
    std::vector<std::string> bobs;
    for (std::size_t i = 0; i < kMostSessionsPerName + 6; ++i) {
        bobs.push_back(*sessions.Open(bob, start + std::chrono::seconds{1 + i}));
    }
    const auto later = start + std::chrono::seconds{2000};
    const auto found = sessions.Find(*admin, later);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->who, dana);
    ASSERT_TRUE(sessions.Find(*alices, later)) << "another operator's session outlived bob's";
    EXPECT_EQ(sessions.Find(*alices, later)->who, alice);
    EXPECT_FALSE(sessions.Find(bobs.front(), later)) << "bob's oldest ended";
    EXPECT_EQ(sessions.Find(bobs.back(), later)->who, bob);
    EXPECT_TRUE(sessions.IsOpen(found->id, later));
    EXPECT_EQ(sessions.Close(*admin), found->id);
    EXPECT_FALSE(sessions.IsOpen(found->id, later));
    EXPECT_FALSE(sessions.Find(*admin, later));
    EXPECT_FALSE(sessions.Find(bobs.back(), start + kSessionLifetime + std::chrono::hours{1}));
}

// Line 1: 4 digits, 2 places; line 2: 3 digits, free point, at most 500.
LineRules Rules() {
    LineRules rules;
    rules.formats.fill({"3", "No"});
    rules.formats[0] = {"4", "2"};
    rules.bounds[1].max = "500";
    return rules;
}

TEST(HttpBody, Changes) {
    struct Row {
        const char* body;
        Role role;
        int status;      // 0: taken
        const char* field;
        std::vector<std::pair<std::string, std::string>> writes;
    } rows[] = {
        {R"({"lines": {"1": "1.899", "2": "7"}})", Role::Operator, 0, "", {{"TD1", "1.90"}, {"TD2", "7"}}},
        {R"({"lines": {"1": ""}})", Role::Operator, 0, "", {{"TD1", ""}}},
        {R"({"update": "14:00"})", Role::Operator, 0, "", {{"UIN", "14:00"}}},
        {R"({"update": "Now"})", Role::Operator, 0, "", {{"UIN", "Now"}}},
        {R"({"flicker": {"2": true}, "point": {"3": false}})", Role::Admin, 0, "", {{"FCC2", "1"}, {"PLL3", "0"}}},
        {R"({"brightness": {"day": 5, "night": 0}})", Role::Admin, 0, "", {{"LD", "5"}, {"LD2", "0"}}},
        {R"({"flicker": {"2": true}})", Role::Operator, 403, "flicker", {}},
        {R"({"lines": {"1": "1"}, "brightness": {"day": 1}})", Role::Operator, 403, "brightness", {}},
        {R"({})", Role::Admin, 422, "", {}},
        {R"([])", Role::Admin, 422, "", {}},
        {R"({"line": {"1": "1"}})", Role::Admin, 422, "line", {}},
        {R"({"lines": {"1": "123"}})", Role::Operator, 422, "lines.1", {}},
        {R"({"lines": {"2": "500"}})", Role::Operator, 0, "", {{"TD2", "500"}}},
        {R"({"lines": {"2": "501"}})", Role::Operator, 422, "lines.2", {}},
        {R"({"lines": {"1": 12}})", Role::Operator, 422, "lines.1", {}},
        {R"({"lines": {"0": "1"}})", Role::Operator, 422, "lines.0", {}},
        {R"({"lines": {}})", Role::Operator, 422, "lines", {}},
        {R"({"lines": {"2": "1", "1": "x"}})", Role::Operator, 422, "lines.1", {}},
        {R"({"flicker": {"1": 1}})", Role::Admin, 422, "flicker.1", {}},
        {R"({"brightness": {"day": 8}})", Role::Admin, 422, "brightness.day", {}},
        {R"({"brightness": {"day": "5"}})", Role::Admin, 422, "brightness.day", {}},
        {R"({"brightness": {"dusk": 5}})", Role::Admin, 422, "brightness.dusk", {}},
        {R"({"update": "25:00"})", Role::Admin, 422, "update", {}},
        {R"({"update": 14})", Role::Admin, 422, "update", {}},
    };
    for (const Row& row : rows) {
        const auto checked =
            ChangeFromBody(nlohmann::ordered_json::parse(row.body), Rules(), row.role);
        if (row.status == 0) {
            const auto* change = std::get_if<BoardChange>(&checked);
            ASSERT_NE(change, nullptr) << row.body << ": " << std::get<BodyRefusal>(checked).error;
            std::vector<std::pair<std::string, std::string>> writes;
            for (const auto& [key, value] : change->writes) {
                writes.emplace_back(std::string(key.name), value);
            }
            EXPECT_EQ(writes, row.writes) << row.body;
            continue;
        }
        const auto* refusal = std::get_if<BodyRefusal>(&checked);
        ASSERT_NE(refusal, nullptr) << row.body;
        EXPECT_EQ(refusal->status, row.status) << row.body;
        EXPECT_EQ(refusal->field, row.field) << row.body;
        EXPECT_FALSE(refusal->error.empty());
    }
}

TEST(HttpBody, ClockAndInit) {
    using nlohmann::ordered_json;
    const auto clock = [](const char* body, Role role) {
        return ClockFromBody(ordered_json::parse(body), role);
    };
    const auto local = std::get<BoardChange>(clock("{}", Role::Admin));
    EXPECT_TRUE(local.sends.Has(Command::Clock) && !local.clock_time);
    const auto given = std::get<BoardChange>(clock(R"({"time": "2026-12-08 10:00:00"})", Role::Admin));
    EXPECT_TRUE(given.sends.Has(Command::Clock) && given.clock_time);
    EXPECT_EQ(std::get<BodyRefusal>(clock("{}", Role::Operator)).status, 403);
    for (const char* bad : {R"({"time": "now"})", R"({"time": "2026-02-30 10:00:00"})",
                            R"({"time": ""})", R"({"time": 5})", R"({"when": "2026-12-08 10:00:00"})"}) {
        EXPECT_EQ(std::get<BodyRefusal>(clock(bad, Role::Admin)).status, 422) << bad;
    }
    EXPECT_TRUE(std::get<BoardChange>(InitFromBody(ordered_json::parse(R"({"confirm": "INITIALIZE"})"),
                                                   Role::Admin)).sends.Has(Command::Init));
    EXPECT_EQ(std::get<BodyRefusal>(InitFromBody(ordered_json::parse(R"({"confirm": "INITIALIZE"})"),
                                                 Role::Operator)).status, 403);
    for (const char* bad : {"{}", R"({"confirm": "initialize"})", R"({"confirm": true})"}) {
        EXPECT_EQ(std::get<BodyRefusal>(InitFromBody(ordered_json::parse(bad), Role::Admin)).status, 422) << bad;
    }
}

TEST(HttpBody, RecordQueries) {
    const auto utc = [](const char* text) { return *ParseIsoUtc(text); };
    struct Row {
        const char* query;
        const char* refused; // the parameter named, "" for none; nullptr: taken
        RecordQuery expected;
        bool csv;
    } rows[] = {
        {"", nullptr, {}, false},
        {"board=hall&limit=5&format=csv", nullptr, {"hall", {}, {}, 5}, true},
        {"since=2026-12-01T00%3A00%3A00Z&until=2026-12-31T23:59:59Z&format=json&", nullptr,
         {"", utc("2026-12-01T00:00:00Z"), utc("2026-12-31T23:59:59Z"), 100}, false},
        {"limit=100000", nullptr, {"", {}, {}, kMostRecordEntries}, false},
        {"since=2026-12-01T00:00:00Z&until=2026-12-01T00:00:00Z", nullptr,
         {"", utc("2026-12-01T00:00:00Z"), utc("2026-12-01T00:00:00Z"), 100}, false},
        {"since=2026-12-01", "since", {}, false},
        {"since=2026-12-01T00:00:00%2B01:00", "since", {}, false},
        {"until=2026-02-30T00:00:00Z", "until", {}, false},
        {"since=2026-12-02T00:00:00Z&until=2026-12-01T00:00:00Z", "until", {}, false},
        {"limit=0", "limit", {}, false},
        {"limit=100001", "limit", {}, false},
        {"limit=-1", "limit", {}, false},
        {"limit=1e3", "limit", {}, false},
        {"limit=99999999999999999999999", "limit", {}, false},
        {"format=xml", "format", {}, false},
        {"board=hall&board=dock", "board", {}, false},
        {"board=", "board", {}, false},
        {"limit", "limit", {}, false},
        {"colour=red", "colour", {}, false},
        {"board=h%4", "board", {}, false},
        {"board=%zz", "board", {}, false},
    };
    for (const Row& row : rows) {
        const auto read = RecordRequestFromQuery(row.query);
        if (row.refused == nullptr) {
            const auto* taken = std::get_if<RecordRequest>(&read);
            ASSERT_NE(taken, nullptr) << row.query << ": " << std::get<BodyRefusal>(read).error;
            EXPECT_EQ(taken->query.board, row.expected.board) << row.query;
            EXPECT_EQ(taken->query.since, row.expected.since) << row.query;
            EXPECT_EQ(taken->query.until, row.expected.until) << row.query;
            EXPECT_EQ(taken->query.limit, row.expected.limit) << row.query;
            EXPECT_EQ(taken->csv, row.csv) << row.query;
            continue;
        }
        const auto* refusal = std::get_if<BodyRefusal>(&read);
        ASSERT_NE(refusal, nullptr) << row.query;
        EXPECT_EQ(refusal->status, 400) << row.query;
        EXPECT_EQ(refusal->field, row.refused) << row.query;
        EXPECT_FALSE(refusal->error.empty()) << row.query;
    }
}

} // namespace
} // namespace lumidex
