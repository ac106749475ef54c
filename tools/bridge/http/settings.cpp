#include "tools/bridge/http/settings.h"

#include "settings/file_io.h"
#include "cli/cli.h"

#include <istream>
#include <ostream>

namespace lumidex {
namespace {

// The first line of a file, without its line break; nothing when the file
// cannot be read.
std::optional<std::string> FirstLine(const std::filesystem::path& file) {
    const auto text = ReadWholeFile(file);
    if (!text) {
        return std::nullopt;
    }
    return text->substr(0, text->find_first_of("\r\n"));
}

} // namespace

std::optional<HttpConfig> ReadHttpConfig(const BridgeConfig& boards, std::string& error) {
    HttpConfig http;
    const auto found = boards.doors.find(kHttpDoorKeys.section);
    if (found == boards.doors.end()) {
        return http;
    }
    const DoorSection& section = found->second;
    http.listen = section.Value("listen");
    const std::pair<const char*, DoorFile HttpConfig::*> files[] = {
        {"operator-password-file", &HttpConfig::operator_password_file},
        {"admin-password-file", &HttpConfig::admin_password_file},
        {"users-file", &HttpConfig::users_file},
        {"tokens-file", &HttpConfig::tokens_file},
        {"tls-cert", &HttpConfig::tls_cert},
        {"tls-key", &HttpConfig::tls_key}};
    for (const auto& [key, member] : files) {
        auto file = section.File(key, error);
        if (!file) {
            return std::nullopt;
        }
        http.*member = std::move(*file);
    }
    // Written by the service itself, so a path of its own, never a credential.
    http.sessions_file = section.Path("sessions-file");
    if (http.sessions_file.empty()) {
        http.sessions_file =
            boards.file.parent_path() / ("." + boards.file.filename().string() + ".sessions");
    }
    http.allow_origin = section.Value("allow-origin");
    if (!http.allow_origin.empty() && !IsWebOrigin(http.allow_origin)) {
        error = section.Refusal("allow-origin", "wants an origin like https://host[:port], got '" +
                                                    http.allow_origin + "'");
        return std::nullopt;
    }
    return http;
}

void AddHttpOptions(CLI::App& parser, HttpOptionTexts& texts, HttpOptions& options) {
    texts.listen_given = AddSingle(parser, "--http", texts.listen);
    texts.cert_given = AddSingle(parser, "--tls-cert", texts.tls_cert);
    texts.key_given = AddSingle(parser, "--tls-key", texts.tls_key);
    AddFlag(parser, "--hash-password", options.hash_password);
}

bool TakeHttpOptions(const HttpOptionTexts& texts, HttpOptions& options, std::string& error) {
    const struct {
        const char* name;
        const CLI::Option* given;
        const std::string& value;
        std::optional<std::string>& target;
    } all[] = {{"--http", texts.listen_given, texts.listen, options.listen},
               {"--tls-cert", texts.cert_given, texts.tls_cert, options.tls_cert},
               {"--tls-key", texts.key_given, texts.tls_key, options.tls_key}};
    for (const auto& option : all) {
        if (!Given(option.given)) {
            continue;
        }
        if (option.value.empty()) {
            error = std::string(option.name) + " needs a value";
            return false;
        }
        option.target = option.value;
    }
    return true;
}

void ApplyHttpOptions(const HttpOptions& options, HttpConfig& http) {
    http.listen = options.listen.value_or(http.listen);
    if (options.tls_cert) {
        http.tls_cert = DoorFile{std::filesystem::absolute(*options.tls_cert)};
    }
    if (options.tls_key) {
        http.tls_key = DoorFile{std::filesystem::absolute(*options.tls_key)};
    }
}

namespace {

// The entries of the users or the tokens file; nothing, with the reason in
// `error`, when it cannot be read, a line is refused, or it holds none: an
// empty file is what systemd hands over when the file a credential is
// loaded from is missing, so it is said rather than served without what
// the boards file asks for.
template <typename Entry, typename Parse>
std::optional<std::vector<Entry>> ReadEntries(const std::filesystem::path& file, const std::string& what,
                                              const std::string& entry, Parse parse, std::string& error) {
    const auto text = ReadWholeFile(file);
    if (!text) {
        error = "cannot read the " + what + " file " + file.string();
        return std::nullopt;
    }
    std::string why;
    auto parsed = parse(*text, why);
    if (!parsed) {
        error = file.string() + ": " + why;
        return std::nullopt;
    }
    if (parsed->empty()) {
        error = file.string() + " holds no " + entry + "; without " + what + " leave " + what +
                "-file out";
        return std::nullopt;
    }
    return std::move(*parsed);
}

} // namespace

std::optional<HttpServer::Options> PrepareHttpDoor(const HttpConfig& http, std::string& error) {
    HttpServer::Options options;
    const auto listen = ParseListen(http.listen);
    if (!listen) {
        error = "the HTTP door listens on ADDRESS:PORT (an IP address or [IPv6], port 1..65535), "
                "not '" + http.listen + "'";
        return std::nullopt;
    }
    options.listen = *listen;
    if (http.tls_cert.path.empty() != http.tls_key.path.empty()) {
        error = "HTTPS needs both tls-cert and tls-key";
        return std::nullopt;
    }
    options.tls_cert = http.tls_cert.path;
    options.tls_key = http.tls_key.path;
    options.allow_origin = http.allow_origin;
    std::optional<std::string> lines[2];
    const std::filesystem::path* files[2] = {&http.operator_password_file.path,
                                             &http.admin_password_file.path};
    for (int i = 0; i < 2; ++i) {
        if (files[i]->empty()) {
            continue;
        }
        lines[i] = FirstLine(*files[i]);
        if (!lines[i]) {
            error = "cannot read the password file " + files[i]->string();
            return std::nullopt;
        }
        if (!IsPasswordLine(*lines[i])) {
            error = files[i]->string() +
                    " holds no password line; make one with: lumidex-bridge --hash-password";
            return std::nullopt;
        }
    }
    std::vector<User> users;
    if (!http.users_file.path.empty()) {
        auto read = ReadEntries<User>(http.users_file.path, "users", "user (one NAME ROLE HASH per line)",
                                      ParseUsers, error);
        if (!read) {
            return std::nullopt;
        }
        users = std::move(*read);
    }
    const bool passwords = lines[0] || lines[1] || !users.empty();
    std::vector<Token> tokens;
    if (!http.tokens_file.path.empty()) {
        if (!passwords) {
            error = "a tokens file needs the passwords (operator-password-file, "
                    "admin-password-file) or users (users-file): without them the door serves "
                    "everyone as operator";
            return std::nullopt;
        }
        auto read = ReadEntries<Token>(http.tokens_file.path, "tokens", "token (one ROLE TOKEN per line)",
                                       ParseTokens, error);
        if (!read) {
            return std::nullopt;
        }
        tokens = std::move(*read);
    }
    if (!IsLoopbackHost(listen->host) && !(lines[0] && lines[1]) && users.empty()) {
        error = "listening on " + listen->host +
                " lets other machines in: that needs both passwords ([http] "
                "operator-password-file and admin-password-file) or a users file (users-file); "
                "without them the door listens on loopback (127.0.0.1) only";
        return std::nullopt;
    }
    options.credentials =
        std::make_shared<Credentials>(lines[0], lines[1], std::move(tokens), std::move(users));
    if (passwords) {
        options.sessions = std::make_shared<Sessions>(http.sessions_file);
        const auto& credentials = *options.credentials;
        if (!options.sessions->Load(
                Sessions::Clock::now(), error,
                [&credentials](const Identity& who) { return credentials.Knows(who); })) {
            return std::nullopt;
        }
    }
    return options;
}

int RunHashPassword(std::istream& in, std::ostream& out, std::ostream& err) {
    std::string password;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    if (password.empty()) {
        err << "lumidex-bridge: --hash-password reads the password from standard input; it was "
               "empty\n";
        return 2;
    }
    const auto line = HashPasswordLine(password);
    if (!line) {
        err << "lumidex-bridge: the system's random source or PBKDF2 failed\n";
        return 2;
    }
    out << *line << "\n";
    return 0;
}

std::vector<HttpDoorFile> HttpDoorFiles(const HttpConfig& http) {
    const struct {
        const char* what;
        const DoorFile& file;
        bool secret;
    } all[] = {{"operator password", http.operator_password_file, true},
               {"admin password", http.admin_password_file, true},
               {"users", http.users_file, true},
               {"tokens", http.tokens_file, true},
               {"certificate", http.tls_cert, false},
               {"key", http.tls_key, true}};
    std::vector<HttpDoorFile> named;
    for (const auto& [what, file, secret] : all) {
        if (!file.path.empty()) {
            const FileUse use = !secret           ? FileUse::Configuration
                                : file.handed_over ? FileUse::Credential
                                                   : FileUse::Secret;
            named.push_back({what, file.path, use});
        }
    }
    return named;
}

std::string DoorAddress(const HttpServer::Options& options, int port) {
    const bool v6 = options.listen.host.find(':') != std::string::npos;
    return std::string("the page and the API at ") + (options.tls_cert.empty() ? "http" : "https") +
           "://" + (v6 ? "[" + options.listen.host + "]" : options.listen.host) + ":" +
           std::to_string(port) + "/" +
           (options.credentials && options.credentials->Required() ? "" : " (no passwords: operator only)");
}

std::string HttpUsage() {
    return R"(HTTP door (a JSON API and the web page; [http] in the boards file):
  [http]
  listen=127.0.0.1:8080
  operator-password-file=operator.pass   admin-password-file=admin.pass
  users-file=users   (NAME ROLE HASH per line: people who log in by name)
  tokens-file=tokens                     allow-origin=https://intranet.example
  tls-cert=cert.pem                      tls-key=key.pem
  sessions-file=sessions   (default: .BOARDS-FILE.sessions beside it)

  --http ADDRESS:PORT  serve the API and the page there (open it in a browser)
  --tls-cert FILE      HTTPS with this certificate chain (PEM) ...
  --tls-key FILE       ... and its key
  --hash-password      read a password from standard input and print the line
                       for a password file
Without password files the door serves everyone as operator (line texts and
"Update in") on loopback only; another address needs both password files or
a users file.
Under systemd a file key of [bridge] or [http] may name a credential it hands
over (LoadCredential=NAME:FILE) as credential:NAME.
)";
}

} // namespace lumidex
