#pragma once

// Who may do what through the HTTP door: the two roles, the password lines
// that `lumidex-bridge --hash-password` prints, the tokens file, the
// sessions the page logs in with, and the pause after failed logins.
#include "boards/change_body.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
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

// A tokens file: one "ROLE TOKEN" per line ("admin 3f9c..."), blank lines
// and lines starting with '#' skipped. A token has 16 to 256 printable
// characters without blanks. Nothing, with the line number and why in
// `error`, for any other line.
struct Token {
    Role role = Role::Operator;
    std::string token;
};
std::optional<std::vector<Token>> ParseTokens(std::string_view text, std::string& error);

// True when both texts are equal, in a time that does not depend on where
// they differ.
bool SameSecret(std::string_view a, std::string_view b);

// The door's logins: the password lines of the two roles and the tokens.
// Checking a password costs PBKDF2's rounds once; a script that sends the
// same credentials with every request is then recognised from a keyed hash
// kept in memory (never the password itself). Safe to use from several
// threads.
class Credentials {
public:
    Credentials(std::optional<std::string> operator_line, std::optional<std::string> admin_line,
                std::vector<Token> tokens);

    // True when any password is set: then every API call needs a login.
    bool Required() const { return operator_line_ || admin_line_; }
    // True when this role has a password.
    bool HasPassword(Role role) const {
        return role == Role::Admin ? admin_line_.has_value() : operator_line_.has_value();
    }

    // The role whose password this is (the admin's first); nothing for a
    // wrong one. Costs PBKDF2's rounds unless the password is recognised.
    std::optional<Role> Login(std::string_view password);
    // HTTP Basic: user "operator" or "admin" with that role's password.
    std::optional<Role> Basic(std::string_view user, std::string_view password);
    // A bearer token from the tokens file.
    std::optional<Role> Bearer(std::string_view token) const;

    // What Login (no role given) or Basic (`only`) would answer for a
    // password checked right before, at the cost of one keyed hash; nothing
    // when the password is not recognised (it may still be right: ask
    // Login or Basic, which cost PBKDF2's rounds).
    std::optional<Role> Recognised(std::optional<Role> only, std::string_view password);

private:
    std::optional<Role> Check(std::optional<Role> only, std::string_view password);
    std::optional<std::string> CacheKey(std::optional<Role> only, std::string_view password) const;

    std::optional<std::string> operator_line_;
    std::optional<std::string> admin_line_;
    std::vector<Token> tokens_;
    std::vector<std::uint8_t> cache_key_;
    std::mutex mutex_;
    std::map<std::string, Role> recognised_; // keyed hash of "ROLE?:password" -> role
};

// The page's logins: a random token per session, a role, an end. Each role
// keeps at most kMostSessionsPerRole sessions: a new one ends the oldest of
// its own role, so logins of one role never end another's sessions.
//
// With a file, the sessions outlive a restart of the service: every login
// and logout rewrites it durably. It holds a hash of each token, never the
// token, so whoever reads it cannot log in; it is a secret all the same
// (who could write it could add a session of their own), read only when no
// other user may read or change it.
inline constexpr std::chrono::seconds kSessionLifetime{12 * 3600};
inline constexpr std::size_t kMostSessionsPerRole = 512;

class Sessions {
public:
    // Wall-clock time: a session's end means the same after a restart.
    using Clock = std::chrono::system_clock;
    struct Session {
        Role role = Role::Operator;
        std::uint64_t id = 0; // names the session without its token
    };
    // `file` empty: the sessions live in memory only.
    explicit Sessions(std::filesystem::path file = {});
    // Takes up the sessions of an earlier run that have not ended. True
    // when there is no file yet; false, with one line in `error`, when it
    // cannot be read, is not this service's alone, or is not a sessions file.
    bool Load(Clock::time_point now, std::string& error);
    // A new session's token (64 hex digits); nothing when the system's
    // random source fails.
    std::optional<std::string> Open(Role role, Clock::time_point now);
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
        Role role;
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
// IPv6 address's /64) and per role tried: the page's login form tries both
// roles, HTTP Basic the role it names. kFailuresUntilWait failures of one
// role make that client wait kLoginWait before it may try that role again;
// every further kFailuresUntilWait double the wait, up to kLongestLoginWait.
// A success clears the count of the role that succeeded only; a client with
// no failure for kFailuresForgotten starts afresh.
inline constexpr int kFailuresUntilWait = 5;
inline constexpr std::chrono::seconds kLoginWait{30};
inline constexpr std::chrono::seconds kLongestLoginWait{15 * 60};
inline constexpr std::chrono::seconds kFailuresForgotten{3600};
inline constexpr std::size_t kMostThrottledClients = 4096;

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    // The whole seconds this client must still wait before it may try any
    // of `roles` (at least 1), or nothing when it may.
    std::optional<long> Waiting(const std::string& client, const std::vector<Role>& roles,
                                Clock::time_point now);
    void Failed(const std::string& client, const std::vector<Role>& roles, Clock::time_point now);
    void Succeeded(const std::string& client, Role role);

private:
    struct Entry {
        int failures = 0;
        Clock::time_point until{};
        Clock::time_point last{};
    };
    using Key = std::pair<std::string, Role>;
    std::map<Key, Entry> entries_;
};

} // namespace lumidex
