#pragma once

// Who may do what through the HTTP door: the two roles, the password lines
// that `lumidex-bridge --hash-password` prints, the tokens file, the
// sessions the page logs in with, and the pause after failed logins.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// An operator changes line texts and "Update in" (what the dialog allows
// without its password); an admin changes everything.
enum class Role { Operator, Admin };

// "operator" or "admin".
std::string_view RoleName(Role role);
// The role of that name; nothing for any other text.
std::optional<Role> RoleFromName(std::string_view name);

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
// kept in memory (never the password itself).
class Credentials {
public:
    Credentials(std::optional<std::string> operator_line, std::optional<std::string> admin_line,
                std::vector<Token> tokens);

    // True when any password is set: then every API call needs a login.
    bool Required() const { return operator_line_ || admin_line_; }

    // The role whose password this is (the admin's first); nothing for a
    // wrong one.
    std::optional<Role> Login(std::string_view password);
    // HTTP Basic: user "operator" or "admin" with that role's password.
    std::optional<Role> Basic(std::string_view user, std::string_view password);
    // A bearer token from the tokens file.
    std::optional<Role> Bearer(std::string_view token) const;

private:
    std::optional<Role> Check(std::optional<Role> only, std::string_view password);

    std::optional<std::string> operator_line_;
    std::optional<std::string> admin_line_;
    std::vector<Token> tokens_;
    std::vector<std::uint8_t> cache_key_;
    std::mutex mutex_;
    std::map<std::string, Role> recognised_; // keyed hash of "ROLE?:password" -> role
};

// The page's logins: a random token per session, a role, an end.
inline constexpr std::chrono::seconds kSessionLifetime{12 * 3600};
inline constexpr std::size_t kMostSessions = 1024;

class Sessions {
public:
    using Clock = std::chrono::steady_clock;
    // A new session's token (64 hex digits); nothing when the system's
    // random source fails. The oldest session ends when kMostSessions are
    // open.
    std::optional<std::string> Open(Role role, Clock::time_point now);
    // The role of a session that has not ended; nothing otherwise.
    std::optional<Role> Find(std::string_view token, Clock::time_point now);
    void Close(std::string_view token);

private:
    struct Entry {
        Role role;
        Clock::time_point ends;
    };
    std::map<std::string, Entry, std::less<>> open_;
};

// Five failed logins from one address make it wait 30 s; a success, or the
// end of the wait, starts its count again.
inline constexpr int kFailuresUntilWait = 5;
inline constexpr std::chrono::seconds kLoginWait{30};
inline constexpr std::size_t kMostThrottledAddresses = 4096;

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    // The whole seconds this address must still wait (at least 1), or
    // nothing when it may try.
    std::optional<long> Waiting(const std::string& address, Clock::time_point now);
    void Failed(const std::string& address, Clock::time_point now);
    void Succeeded(const std::string& address);

private:
    struct Entry {
        int failures = 0;
        Clock::time_point until{};
        Clock::time_point last{};
    };
    std::map<std::string, Entry> entries_;
};

} // namespace lumidex
