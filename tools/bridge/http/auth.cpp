#include "tools/bridge/http/auth.h"

#include "tools/bridge/http/crypto.h"

#include "settings/file_io.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace lumidex {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr unsigned kFewestRounds = 1000;
constexpr unsigned kMostRounds = 10000000;
constexpr std::size_t kShortestToken = 16;
constexpr std::size_t kLongestToken = 256;
constexpr std::string_view kBase64Digits =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct PasswordLine {
    unsigned rounds = 0;
    std::vector<std::uint8_t> salt;
    std::vector<std::uint8_t> hash;
};

std::optional<PasswordLine> ParseLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.remove_suffix(1);
    }
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t dollar = line.find('$', start);
        parts.push_back(line.substr(start, dollar - start));
        if (dollar == std::string_view::npos) {
            break;
        }
        start = dollar + 1;
    }
    if (parts.size() != 4 || parts[0] != kScheme) {
        return std::nullopt;
    }
    PasswordLine parsed;
    const auto result =
        std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), parsed.rounds);
    if (result.ec != std::errc() || result.ptr != parts[1].data() + parts[1].size() ||
        parsed.rounds < kFewestRounds || parsed.rounds > kMostRounds) {
        return std::nullopt;
    }
    auto salt = FromBase64(parts[2]);
    auto hash = FromBase64(parts[3]);
    if (!salt || !hash || salt->size() < 8 || hash->size() != kHashBytes) {
        return std::nullopt;
    }
    parsed.salt = std::move(*salt);
    parsed.hash = std::move(*hash);
    return parsed;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

} // namespace

std::string Base64(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (n > 1) {
            group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        }
        if (n > 2) {
            group |= bytes[i + 2];
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? kBase64Digits[(group >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> FromBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        int padding = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            std::uint32_t value = 0;
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                ++padding;
            } else {
                const std::size_t found = kBase64Digits.find(c);
                if (found == std::string_view::npos || padding > 0) {
                    return std::nullopt;
                }
                value = static_cast<std::uint32_t>(found);
            }
            group = (group << 6) | value;
        }
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            out.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            out.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return out;
}

std::optional<std::string> HashPasswordLine(std::string_view password, unsigned rounds) {
    const auto salt = RandomBytes(kSaltBytes);
    if (!salt) {
        return std::nullopt;
    }
    const auto hash = Pbkdf2Sha256(password, *salt, rounds, kHashBytes);
    if (!hash) {
        return std::nullopt;
    }
    return std::string(kScheme) + "$" + std::to_string(rounds) + "$" + Base64(*salt) + "$" +
           Base64(*hash);
}

bool IsPasswordLine(std::string_view line) {
    return ParseLine(line).has_value();
}

bool SameSecret(std::string_view a, std::string_view b) {
    if (b.empty()) {
        return false;
    }
    // Every byte of `a` is looked at, whatever the first difference.
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ b[i % b.size()]);
    }
    return differ == 0;
}

bool PasswordMatches(std::string_view line, std::string_view password) {
    const auto parsed = ParseLine(line);
    if (!parsed) {
        return false;
    }
    const auto hash = Pbkdf2Sha256(password, parsed->salt, parsed->rounds, kHashBytes);
    if (!hash) {
        return false;
    }
    return SameSecret(std::string_view(reinterpret_cast<const char*>(hash->data()), hash->size()),
                      std::string_view(reinterpret_cast<const char*>(parsed->hash.data()),
                                       parsed->hash.size()));
}

std::optional<std::vector<Token>> ParseTokens(std::string_view text, std::string& error) {
    std::vector<Token> tokens;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t blank = line.find_first_of(" \t");
        const auto role = RoleFromName(line.substr(0, blank));
        std::string_view token =
            blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
        while (!token.empty() && (token.front() == ' ' || token.front() == '\t')) {
            token.remove_prefix(1);
        }
        const bool printable = std::all_of(token.begin(), token.end(), [](unsigned char c) {
            return c > 0x20 && c < 0x7f;
        });
        if (!role || token.size() < kShortestToken || token.size() > kLongestToken || !printable) {
            error = "line " + std::to_string(number) +
                    ": wants ROLE TOKEN (operator or admin, then 16 to 256 printable characters "
                    "without blanks)";
            return std::nullopt;
        }
        tokens.push_back({*role, std::string(token)});
    }
    return tokens;
}

Credentials::Credentials(std::optional<std::string> operator_line,
                         std::optional<std::string> admin_line, std::vector<Token> tokens)
    : operator_line_(std::move(operator_line)), admin_line_(std::move(admin_line)),
      tokens_(std::move(tokens)), cache_key_(RandomBytes(32).value_or(std::vector<std::uint8_t>{})) {}

std::optional<std::string> Credentials::CacheKey(std::optional<Role> only,
                                                 std::string_view password) const {
    if (cache_key_.empty()) {
        return std::nullopt;
    }
    // One round of PBKDF2 is an HMAC keyed with the password: a keyed hash
    // that says nothing about the password without the random key.
    const std::string label = only ? std::string(RoleName(*only)) : std::string("any");
    const auto mac = Pbkdf2Sha256(std::string(password) + '\n' + label, cache_key_, 1, 32);
    if (!mac) {
        return std::nullopt;
    }
    return Hex(*mac);
}

std::optional<Role> Credentials::Recognised(std::optional<Role> only, std::string_view password) {
    const auto key = CacheKey(only, password);
    if (!key) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    if (const auto found = recognised_.find(*key); found != recognised_.end()) {
        return found->second;
    }
    return std::nullopt;
}

std::optional<Role> Credentials::Check(std::optional<Role> only, std::string_view password) {
    if (const auto known = Recognised(only, password)) {
        return known;
    }
    std::optional<Role> role;
    if ((!only || *only == Role::Admin) && admin_line_ && PasswordMatches(*admin_line_, password)) {
        role = Role::Admin;
    } else if ((!only || *only == Role::Operator) && operator_line_ &&
               PasswordMatches(*operator_line_, password)) {
        role = Role::Operator;
    }
    const auto key = CacheKey(only, password);
    if (role && key) {
        std::lock_guard lock(mutex_);
        if (recognised_.size() >= 64) {
            recognised_.clear();
        }
        recognised_[*key] = *role;
    }
    return role;
}

std::optional<Role> Credentials::Login(std::string_view password) {
    return Check(std::nullopt, password);
}

std::optional<Role> Credentials::Basic(std::string_view user, std::string_view password) {
    const auto role = RoleFromName(user);
    if (!role) {
        return std::nullopt;
    }
    return Check(role, password);
}

std::optional<Role> Credentials::Bearer(std::string_view token) const {
    std::optional<Role> role;
    for (const Token& known : tokens_) {
        if (SameSecret(token, known.token)) {
            role = known.role;
        }
    }
    return role;
}

namespace {

// The name a session is kept under: a hash of its token. A token is 256
// random bits, so one round of the door's PBKDF2 is as good as any slow
// hash; the fixed salt only sets these hashes apart from password hashes.
std::optional<std::string> TokenHash(std::string_view token) {
    static const std::vector<std::uint8_t> kSalt{'l', 'u', 'm', 'i', 'd', 'e', 'x', '-',
                                                 's', 'e', 's', 's', 'i', 'o', 'n'};
    const auto hash = Pbkdf2Sha256(token, kSalt, 1, kHashBytes);
    if (!hash) {
        return std::nullopt;
    }
    return Hex(*hash);
}

constexpr std::string_view kSessionsHeading = "# lumidex-bridge sessions: token hash, role, end (Unix time)";

} // namespace

Sessions::Sessions(std::filesystem::path file) : file_(std::move(file)) {}

bool Sessions::Load(Clock::time_point now, std::string& error) {
    if (file_.empty()) {
        return true;
    }
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) {
        Keep(); // made now, so a file that cannot be written is known at once
        return true;
    }
    const std::string where = "the sessions file " + file_.string();
    if (const auto why = WhyUntrusted(file_, FileUse::Secret)) {
        error = "refusing " + where + ": " + *why;
        return false;
    }
    const auto text = ReadWholeFile(file_);
    if (!text) {
        error = "cannot read " + where;
        return false;
    }
    std::istringstream lines(*text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string hash, role_name;
        long long ends = 0;
        fields >> hash >> role_name >> ends;
        const auto role = RoleFromName(role_name);
        const bool hex = hash.size() == 2 * kHashBytes &&
                         hash.find_first_not_of("0123456789abcdef") == std::string::npos;
        if (!fields || !role || !hex || !(fields >> std::ws).eof()) {
            error = where + ", line " + std::to_string(number) +
                    ": not 'HASH ROLE END'; delete the file to end every session";
            return false;
        }
        const Clock::time_point end{std::chrono::seconds(ends)};
        if (end > now) {
            open_[hash] = {*role, next_id_++, std::min(end, now + kSessionLifetime)};
        }
    }
    Keep(); // without the sessions that ended meanwhile
    return true;
}

void Sessions::Keep() {
    if (file_.empty()) {
        return;
    }
    std::string text(kSessionsHeading);
    text += "\n";
    for (const auto& [hash, entry] : open_) {
        text += hash + " " + std::string(RoleName(entry.role)) + " " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                   entry.ends.time_since_epoch())
                                   .count()) +
                "\n";
    }
    if (ReplaceFileDurably(file_, text, FileUse::Secret)) {
        keep_failure_.reset();
    } else {
        keep_failure_ = "cannot write the sessions file " + file_.string() +
                        ": logins end when the service stops";
    }
}

std::optional<std::string> Sessions::Open(Role role, Clock::time_point now) {
    const auto bytes = RandomBytes(32);
    if (!bytes) {
        return std::nullopt;
    }
    std::string token = Hex(*bytes);
    const auto hash = TokenHash(token);
    if (!hash) {
        return std::nullopt;
    }
    std::erase_if(open_, [&](const auto& entry) { return entry.second.ends <= now; });
    const auto same_role = [role](const auto& entry) { return entry.second.role == role; };
    if (static_cast<std::size_t>(std::count_if(open_.begin(), open_.end(), same_role)) >=
        kMostSessionsPerRole) {
        auto oldest = open_.end();
        for (auto it = open_.begin(); it != open_.end(); ++it) {
            if (same_role(*it) && (oldest == open_.end() || it->second.ends < oldest->second.ends)) {
                oldest = it;
            }
        }
        open_.erase(oldest);
    }
    open_[*hash] = {role, next_id_++, now + kSessionLifetime};
    Keep();
    return token;
}

std::optional<Sessions::Session> Sessions::Find(std::string_view token, Clock::time_point now) {
    const auto hash = TokenHash(token);
    const auto found = hash ? open_.find(*hash) : open_.end();
    if (found == open_.end()) {
        return std::nullopt;
    }
    if (found->second.ends <= now) {
        open_.erase(found);
        return std::nullopt;
    }
    return Session{found->second.role, found->second.id};
}

std::optional<std::uint64_t> Sessions::Close(std::string_view token) {
    const auto hash = TokenHash(token);
    const auto found = hash ? open_.find(*hash) : open_.end();
    if (found == open_.end()) {
        return std::nullopt;
    }
    const std::uint64_t id = found->second.id;
    open_.erase(found);
    Keep();
    return id;
}

bool Sessions::IsOpen(std::uint64_t id, Clock::time_point now) const {
    return std::any_of(open_.begin(), open_.end(), [&](const auto& entry) {
        return entry.second.id == id && entry.second.ends > now;
    });
}

std::optional<long> LoginThrottle::Waiting(const std::string& client, const std::vector<Role>& roles,
                                           Clock::time_point now) {
    std::optional<long> longest;
    for (const Role role : roles) {
        const auto found = entries_.find({client, role});
        if (found == entries_.end() || found->second.until <= now) {
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::seconds>(found->second.until - now);
        longest = std::max<long>(longest.value_or(1), static_cast<long>(left.count()));
    }
    return longest;
}

void LoginThrottle::Failed(const std::string& client, const std::vector<Role>& roles,
                           Clock::time_point now) {
    for (const Role role : roles) {
        const Key key{client, role};
        if (entries_.size() >= kMostThrottledClients && !entries_.contains(key)) {
            // Forget the entry whose last failure is oldest; one that waits
            // now is kept unless all do.
            auto oldest = entries_.begin();
            for (auto it = entries_.begin(); it != entries_.end(); ++it) {
                const bool waiting = it->second.until > now;
                const bool oldest_waiting = oldest->second.until > now;
                if ((oldest_waiting && !waiting) ||
                    (oldest_waiting == waiting && it->second.last < oldest->second.last)) {
                    oldest = it;
                }
            }
            entries_.erase(oldest);
        }
        Entry& entry = entries_[key];
        if (entry.failures > 0 && now - entry.last >= kFailuresForgotten) {
            entry = {};
        }
        entry.last = now;
        if (++entry.failures % kFailuresUntilWait == 0) {
            // 30 s, then twice as long for every further round of failures.
            const int rounds = std::min(entry.failures / kFailuresUntilWait - 1, 16);
            entry.until = now + std::min<std::chrono::seconds>(kLoginWait * (1L << rounds),
                                                               kLongestLoginWait);
        }
    }
}

void LoginThrottle::Succeeded(const std::string& client, Role role) {
    entries_.erase({client, role});
}

} // namespace lumidex
