#pragma once

// lumidex-bridge's HTTP options and the running of its HTTP door, shared by
// the Linux program (beside MQTT) and the Windows one (HTTP alone).
#include "boards/boards_file.h"
#include "settings/file_io.h"
#include "tools/bridge/http/server.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// The HTTP door's keys: the boards file's [http] section.
inline constexpr std::string_view kHttpKeyNames[] = {
    "listen",     "operator-password-file", "admin-password-file",
    "users-file", "tokens-file",            "allow-origin",
    "tls-cert",   "tls-key",                "sessions-file"};
inline constexpr DoorKeys kHttpDoorKeys{"http", kHttpKeyNames};

// Where the HTTP door listens when it is the program's only door (the
// build has no MQTT client) and neither --http nor [http] listen= names an
// address.
inline constexpr const char* kDefaultListen = "127.0.0.1:8080";

// The HTTP door's settings, from the boards file's [http] section (paths
// made absolute against the boards file, or credentials systemd handed
// over) or the command line. An empty `listen` means no HTTP door.
struct HttpConfig {
    std::string listen; // "ADDRESS:PORT"
    DoorFile operator_password_file;
    DoorFile admin_password_file;
    DoorFile users_file; // people by name: "NAME ROLE HASH" lines
    DoorFile tokens_file;
    std::string allow_origin; // the one other origin that may call the API
    DoorFile tls_cert;
    DoorFile tls_key;
    // Where the page's logins are kept across restarts: sessions-file, or
    // ".<boards file's name>.sessions" beside the boards file.
    std::filesystem::path sessions_file;
};

// Reads the boards file's [http] section. Nothing, with "FILE: [http] KEY:
// why" in `error`, for an allow-origin that is no origin
// ("http://host[:port]" or "https://...") or a file named as a credential
// that cannot be one (see DoorSection::File); the other keys are checked
// when the door is prepared.
std::optional<HttpConfig> ReadHttpConfig(const BridgeConfig& boards, std::string& error);

// The HTTP door's command-line options; what they name overrides the boards
// file's [http] section.
struct HttpOptions {
    std::optional<std::string> listen;   // --http ADDRESS:PORT
    std::optional<std::string> tls_cert; // --tls-cert FILE
    std::optional<std::string> tls_key;  // --tls-key FILE
    bool hash_password = false;          // --hash-password
};

// The option texts while CLI11 parses them.
struct HttpOptionTexts {
    std::string listen, tls_cert, tls_key;
    const CLI::Option* listen_given = nullptr;
    const CLI::Option* cert_given = nullptr;
    const CLI::Option* key_given = nullptr;
};

// Declares --http, --tls-cert, --tls-key and --hash-password.
void AddHttpOptions(CLI::App& parser, HttpOptionTexts& texts, HttpOptions& options);
// Takes the parsed texts; false, with the reason, for an empty value.
bool TakeHttpOptions(const HttpOptionTexts& texts, HttpOptions& options, std::string& error);

// Puts the command line's HTTP options over the boards file's.
void ApplyHttpOptions(const HttpOptions& options, HttpConfig& http);

// The HTTP door as configured, checked: the listen address, both TLS files
// or neither, the password files (each one line of --hash-password), the
// users file (at least one person, see ParseUsers), the tokens file (at
// least one token, and passwords or users), the sessions an earlier run
// kept (with passwords or users) of those who still may log in. Without
// passwords the door listens on loopback only; beyond it, it needs both
// passwords or a users file. Nothing, with one line in `error` (naming the
// file, and the line of a users or tokens file), when any of this does not
// hold.
std::optional<HttpServer::Options> PrepareHttpDoor(const HttpConfig& http, std::string& error);

// A file the HTTP door reads, as its messages name it ("tokens"). Who could
// change a password file could log in; who could read a password's hash
// could guess it at leisure on a machine of their own, and who could read
// the tokens or the key could pose as a script or as the service: these
// are secrets. A secret systemd handed over is kept from others by
// systemd's rule (FileUse::Credential).
struct HttpDoorFile {
    const char* what;
    std::filesystem::path path;
    FileUse use;
};

// The files the boards file's [http] section names, for the trust check
// before the door reads them.
std::vector<HttpDoorFile> HttpDoorFiles(const HttpConfig& http);

// --hash-password: reads a password (the first line) from `in` and writes
// the password file's line for it. 0, or 2 for an empty password or a
// failure of the system's random source.
int RunHashPassword(std::istream& in, std::ostream& out, std::ostream& err);

// "the page and the API at http://ADDRESS:PORT/", for the start-up line.
std::string DoorAddress(const HttpServer::Options& options, int port);

// What --help says about the HTTP door.
std::string HttpUsage();

} // namespace lumidex
