#pragma once

// Who may do what through the HTTP door: the two roles, the password lines
// that `lumidex-bridge --hash-password` prints, the users file that names
// people, the tokens file, the sessions the page logs in with, and the
// pause after failed logins.
#include "boards/change_body.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// Standard base64 with padding, and back (nothing for text that is not).
std::string Base64(const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> FromBase64(std::string_view text);

// How many PBKDF2 rounds a new password line asks for.
inline constexpr unsigned kPasswordRounds = 200000;

// One line for a password file: "pbkdf2-sha256$ROUNDS$SALT$HASH" (salt and
// hash in base64), from a fresh random salt; nothing when the system's
// random source or PBKDF2 fails.
std::optional<std::string> HashPasswordLine(std::string_view password,
                                            unsigned rounds = kPasswordRounds);

// True when `password` is the one the line was made from. A line that is
// not of that form (or asks for fewer than 1,000 or more than 10,000,000
// rounds) matches nothing.
bool PasswordMatches(std::string_view line, std::string_view password);

// True when the line is of the form HashPasswordLine writes.
bool IsPasswordLine(std::string_view line);

// True for a name a person or a token may have: 1 to 64 letters, digits,
// '.', '_' and '-'.
bool IsUserName(std::string_view name);

// Who acts: the role, and the name a change is told apart by (a person of
// the users file, a token's name, or the role's own name for its password
// file and a token without a name).
struct Identity {
    Role role = Role::Operator;
    std::string name;
    bool operator==(const Identity&) const = default;
};

// A tokens file: one "ROLE TOKEN [NAME]" per line ("admin 3f9c... feed"),
// blank lines and lines starting with '#' skipped. A token has 16 to 256
// printable characters without blanks; a name (IsUserName) tells a
// script's changes apart, and without one the token acts under the role's
// name; the other role's name is no token's. Nothing, with the line number
// and why in `error`, for any other line.
struct Token {
    Role role = Role::Operator;
    std::string token;
    std::string name; // empty: the role's
};
std::optional<std::vector<Token>> ParseTokens(std::string_view text, std::string& error);

// A users file: one "NAME ROLE HASH" per line ("dana admin pbkdf2-sha256$..."),
// HASH as --hash-password prints it, blank lines and lines starting with
// '#' skipped. The roles' own names are not people's: they log in with the
// roles' password files. Nothing, with the line number and why in `error`,
// for any other line and for a name given twice.
struct User {
    std::string name;
    Role role = Role::Operator;
    std::string line; // the password line
};
std::optional<std::vector<User>> ParseUsers(std::string_view text, std::string& error);

// True when both texts are equal, in a time that does not depend on where
// they differ.
bool SameSecret(std::string_view a, std::string_view b);

// The door's logins: the password lines of the two roles, the people of
// the users file and the tokens. A login names whom it is for: no name
// tries both roles' password files (the page's form without a name),
// "operator" or "admin" that role's password file, any other name the
// users file. Checking a password costs PBKDF2's rounds once; a script that
// sends the same credentials with every request is then recognised from a
// keyed hash kept in memory (never the password itself). Safe to use from
// several threads.
class Credentials {
public:
    Credentials(std::optional<std::string> operator_line, std::optional<std::string> admin_line,
                std::vector<Token> tokens, std::vector<User> users = {});

    // True when any password or person is set: then every API call needs a
    // login.
    bool Required() const { return operator_line_ || admin_line_ || !users_.empty(); }
    // True when this role has a password.
    bool HasPassword(Role role) const {
        return role == Role::Admin ? admin_line_.has_value() : operator_line_.has_value();
    }
    // True when there is a users file: the page asks for a name.
    bool HasUsers() const { return !users_.empty(); }
    // True when a login under this name is worth checking: a role's name
    // with its password file, or any other name when there is a users file
    // (a name it lacks costs as much as one it holds, so the time of the
    // answer does not tell who exists).
    bool Checks(std::string_view name) const;
    // True when whoever logged in as `who` still could: a role's own name,
    // or a person the users file still names with that role.
    bool Knows(const Identity& who) const;

    // Who the password is for under `name` (empty: the roles' password
    // files, the admin's first); nothing for a wrong one or a name that is
    // no name. Costs PBKDF2's rounds unless the password is recognised.
    std::optional<Identity> Login(std::string_view name, std::string_view password);
    // A bearer token from the tokens file.
    std::optional<Identity> Bearer(std::string_view token) const;

    // What Login would answer for a name and password checked right
    // before, at the cost of one keyed hash; nothing when they are not
    // recognised (they may still be right: ask Login, which costs PBKDF2's
    // rounds).
    std::optional<Identity> Recognised(std::string_view name, std::string_view password);

private:
    std::optional<std::string> CacheKey(std::string_view name, std::string_view password) const;
    const User* FindUser(std::string_view name) const;

    std::optional<std::string> operator_line_;
    std::optional<std::string> admin_line_;
    std::vector<Token> tokens_;
    std::vector<User> users_;
    std::vector<std::uint8_t> cache_key_;
    std::mutex mutex_;
    std::map<std::string, Identity> recognised_; // keyed hash of "password, name" -> who
};

// The page's logins: a random token per session, who logged in (role and
// name), an end. Each name keeps at most kMostSessionsPerName sessions: a
// new one ends the oldest of its own name, so no number of one person's
// (or one role password's) logins ends anyone else's session.
//
// With a file, the sessions outlive a restart of the service: every login
// and logout rewrites it durably. It holds a hash of each token, never the
// token, so whoever reads it cannot log in; it is a secret all the same
// (who could write it could add a session of their own), read only when no
// other user may read or change it.
inline constexpr std::chrono::seconds kSessionLifetime{12 * 3600};
inline constexpr std::size_t kMostSessionsPerName = 512;

class Sessions {
public:
    // Wall-clock time: a session's end means the same after a restart.
    using Clock = std::chrono::system_clock;
    struct Session {
        Identity who;
        std::uint64_t id = 0; // names the session without its token
    };
    // `file` empty: the sessions live in memory only.
    explicit Sessions(std::filesystem::path file = {});
    // Takes up the sessions of an earlier run that have not ended, of
    // those `known` still knows (none given: all): a person taken out of
    // the users file, or given another role, logs in again. True when there
    // is no file yet; false, with one line in `error`, when it cannot be
    // read, is not this service's alone, or is not a sessions file.
    bool Load(Clock::time_point now, std::string& error,
              const std::function<bool(const Identity&)>& known = {});
    // A new session's token (64 hex digits); nothing when the system's
    // random source fails.
    std::optional<std::string> Open(const Identity& who, Clock::time_point now);
    // A session that has not ended; nothing otherwise.
    std::optional<Session> Find(std::string_view token, Clock::time_point now);
    // Ends a session; the id of the one that ended, nothing for no such one.
    std::optional<std::uint64_t> Close(std::string_view token);
    // True while the session of that id has not ended.
    bool IsOpen(std::uint64_t id, Clock::time_point now) const;
    // Set when the file could not be written the last time it was tried:
    // the sessions then end with the service. Cleared by the next good write.
    const std::optional<std::string>& KeepFailure() const { return keep_failure_; }

private:
    struct Entry {
        Identity who;
        std::uint64_t id;
        Clock::time_point ends;
    };
    void Keep();
    std::filesystem::path file_;
    std::map<std::string, Entry, std::less<>> open_; // by the token's hash
    std::uint64_t next_id_ = 1;
    std::optional<std::string> keep_failure_;
};

// Failed logins are counted per client (ClientOf: an IPv4 address, or an
// IPv6 address's /64) and per name tried ("operator" and "admin" for the
// roles' password files, a person's name for the users file): the page's
// login form without a name tries both roles, with a name and HTTP Basic
// the name given. kFailuresUntilWait failures of one name make that client
// wait kLoginWait before it may try that name again; every further
// kFailuresUntilWait double the wait, up to kLongestLoginWait. A success
// clears the count of the name that succeeded only; a client with no
// failure for kFailuresForgotten starts afresh.
inline constexpr int kFailuresUntilWait = 5;
inline constexpr std::chrono::seconds kLoginWait{30};
inline constexpr std::chrono::seconds kLongestLoginWait{15 * 60};
inline constexpr std::chrono::seconds kFailuresForgotten{3600};
inline constexpr std::size_t kMostThrottledClients = 4096;

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    // The whole seconds this client must still wait before it may try any
    // of `names` (at least 1), or nothing when it may.
    std::optional<long> Waiting(const std::string& client, const std::vector<std::string>& names,
                                Clock::time_point now);
    void Failed(const std::string& client, const std::vector<std::string>& names,
                Clock::time_point now);
    void Succeeded(const std::string& client, const std::string& name);

private:
    struct Entry {
        int failures = 0;
        Clock::time_point until{};
        Clock::time_point last{};
    };
    using Key = std::pair<std::string, std::string>; // client, name
    std::map<Key, Entry> entries_;
};

} // namespace lumidex
