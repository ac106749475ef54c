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

constexpr std::size_t kLongestUserName = 64;

// The lines of a tokens or users file that say something, each with its
// number and split at blanks: blank lines and '#' comments are skipped,
// a line's own break and blanks around it dropped.
struct FileLine {
    int number = 0;
    std::vector<std::string_view> words;
};
std::vector<FileLine> WordLines(std::string_view text) {
    std::vector<FileLine> lines;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        FileLine split{number, {}};
        while (true) {
            const std::size_t start = line.find_first_not_of(" \t\r");
            if (start == std::string_view::npos) {
                break;
            }
            line.remove_prefix(start);
            const std::size_t blank = std::min(line.find_first_of(" \t\r"), line.size());
            split.words.push_back(line.substr(0, blank));
            line.remove_prefix(blank);
        }
        if (!split.words.empty() && !split.words.front().starts_with('#')) {
            lines.push_back(std::move(split));
        }
    }
    return lines;
}

// A decoy password line checked for a name the users file lacks, so the
// answer takes as long as for one it holds; no password matches it in
// earnest (its result is never used).
const std::string& DecoyLine() {
    static const std::string line = std::string(kScheme) + "$" + std::to_string(kPasswordRounds) +
                                    "$" + Base64(std::vector<std::uint8_t>(kSaltBytes, 0x5a)) +
                                    "$" + Base64(std::vector<std::uint8_t>(kHashBytes, 0));
    return line;
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

bool IsUserName(std::string_view name) {
    return !name.empty() && name.size() <= kLongestUserName &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
           });
}

std::optional<std::vector<Token>> ParseTokens(std::string_view text, std::string& error) {
    std::vector<Token> tokens;
    for (const FileLine& line : WordLines(text)) {
        const auto& words = line.words;
        const auto role = RoleFromName(words[0]);
        const std::string_view token = words.size() > 1 ? words[1] : std::string_view{};
        const std::string_view name =
            words.size() > 2 ? words[2] : RoleName(role.value_or(Role::Operator));
        const bool printable = std::all_of(token.begin(), token.end(), [](unsigned char c) {
            return c > 0x20 && c < 0x7f;
        });
        const auto named_role = RoleFromName(name);
        if (!role || words.size() > 3 || token.size() < kShortestToken ||
            token.size() > kLongestToken || !printable || !IsUserName(name) ||
            (named_role && *named_role != *role)) {
            error = "line " + std::to_string(line.number) +
                    ": wants ROLE TOKEN [NAME] (operator or admin, then 16 to 256 printable "
                    "characters without blanks, then a name of 1 to 64 letters, digits, '.', '_' "
                    "or '-' that is not the other role's)";
            return std::nullopt;
        }
        tokens.push_back({*role, std::string(token), std::string(name)});
    }
    return tokens;
}

std::optional<std::vector<User>> ParseUsers(std::string_view text, std::string& error) {
    std::vector<User> users;
    std::map<std::string_view, int> first_seen; // name -> line
    for (const FileLine& line : WordLines(text)) {
        const auto& words = line.words;
        const std::string at = "line " + std::to_string(line.number) + ": ";
        const auto role = words.size() > 1 ? RoleFromName(words[1]) : std::nullopt;
        if (words.size() != 3 || !IsUserName(words[0]) || !role || !IsPasswordLine(words[2])) {
            error = at + "wants NAME ROLE HASH (a name of 1 to 64 letters, digits, '.', '_' or "
                         "'-'; operator or admin; the line lumidex-bridge --hash-password prints)";
            return std::nullopt;
        }
        if (RoleFromName(words[0])) {
            error = at + std::string(words[0]) +
                    " is a role's name: that role logs in with its own password file";
            return std::nullopt;
        }
        if (const auto [seen, fresh] = first_seen.emplace(words[0], line.number); !fresh) {
            error = at + std::string(words[0]) + " is named twice (first on line " +
                    std::to_string(seen->second) + ")";
            return std::nullopt;
        }
        users.push_back({std::string(words[0]), *role, std::string(words[2])});
    }
    return users;
}

Credentials::Credentials(std::optional<std::string> operator_line,
                         std::optional<std::string> admin_line, std::vector<Token> tokens,
                         std::vector<User> users)
    : operator_line_(std::move(operator_line)), admin_line_(std::move(admin_line)),
      tokens_(std::move(tokens)), users_(std::move(users)),
      cache_key_(RandomBytes(32).value_or(std::vector<std::uint8_t>{})) {}

const User* Credentials::FindUser(std::string_view name) const {
    const auto found = std::find_if(users_.begin(), users_.end(),
                                    [name](const User& user) { return user.name == name; });
    return found == users_.end() ? nullptr : &*found;
}

bool Credentials::Checks(std::string_view name) const {
    if (const auto role = RoleFromName(name)) {
        return HasPassword(*role);
    }
    return IsUserName(name) && HasUsers();
}

bool Credentials::Knows(const Identity& who) const {
    if (const auto role = RoleFromName(who.name)) {
        return *role == who.role;
    }
    const User* user = FindUser(who.name);
    return user && user->role == who.role;
}

std::optional<std::string> Credentials::CacheKey(std::string_view name,
                                                 std::string_view password) const {
    if (cache_key_.empty()) {
        return std::nullopt;
    }
    // One round of PBKDF2 is an HMAC keyed with the password: a keyed hash
    // that says nothing about the password without the random key. A name
    // holds no line break and no '*', so no two pairs give one text.
    const std::string label = name.empty() ? std::string("*") : std::string(name);
    const auto mac = Pbkdf2Sha256(std::string(password) + '\n' + label, cache_key_, 1, 32);
    if (!mac) {
        return std::nullopt;
    }
    return Hex(*mac);
}

std::optional<Identity> Credentials::Recognised(std::string_view name, std::string_view password) {
    if (!name.empty() && !IsUserName(name)) {
        return std::nullopt;
    }
    const auto key = CacheKey(name, password);
    if (!key) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    if (const auto found = recognised_.find(*key); found != recognised_.end()) {
        return found->second;
    }
    return std::nullopt;
}

std::optional<Identity> Credentials::Login(std::string_view name, std::string_view password) {
    if (!name.empty() && !IsUserName(name)) {
        return std::nullopt;
    }
    if (auto known = Recognised(name, password)) {
        return known;
    }
    std::optional<Identity> who;
    const auto role_named = RoleFromName(name);
    if (name.empty() || role_named) {
        const std::pair<Role, const std::optional<std::string>*> roles[] = {
            {Role::Admin, &admin_line_}, {Role::Operator, &operator_line_}};
        for (const auto& [role, line] : roles) {
            if ((!role_named || *role_named == role) && *line &&
                PasswordMatches(**line, password)) {
                who = Identity{role, std::string(RoleName(role))};
                break;
            }
        }
    } else if (const User* user = FindUser(name)) {
        if (PasswordMatches(user->line, password)) {
            who = Identity{user->role, user->name};
        }
    } else {
        PasswordMatches(DecoyLine(), password);
    }
    const auto key = CacheKey(name, password);
    if (who && key) {
        std::lock_guard lock(mutex_);
        if (recognised_.size() >= 64) {
            recognised_.clear();
        }
        recognised_[*key] = *who;
    }
    return who;
}

std::optional<Identity> Credentials::Bearer(std::string_view token) const {
    std::optional<Identity> who;
    for (const Token& known : tokens_) {
        if (SameSecret(token, known.token)) {
            who = Identity{known.role,
                           known.name.empty() ? std::string(RoleName(known.role)) : known.name};
        }
    }
    return who;
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

constexpr std::string_view kSessionsHeading =
    "# lumidex-bridge sessions: token hash, role, end (Unix time), name";

} // namespace

Sessions::Sessions(std::filesystem::path file) : file_(std::move(file)) {}

bool Sessions::Load(Clock::time_point now, std::string& error,
                    const std::function<bool(const Identity&)>& known) {
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
        std::string hash, role_name, name, more;
        long long ends = 0;
        const bool read = static_cast<bool>(fields >> hash >> role_name >> ends);
        fields >> name >> more;
        const auto role = RoleFromName(role_name);
        // A line without a name was kept before sessions knew people: the
        // role's own.
        if (role && name.empty()) {
            name = std::string(RoleName(*role));
        }
        const bool hex = hash.size() == 2 * kHashBytes &&
                         hash.find_first_not_of("0123456789abcdef") == std::string::npos;
        if (!read || !role || !hex || !IsUserName(name) || !more.empty()) {
            error = where + ", line " + std::to_string(number) +
                    ": not 'HASH ROLE END NAME'; delete the file to end every session";
            return false;
        }
        const Clock::time_point end{std::chrono::seconds(ends)};
        Identity who{*role, std::move(name)};
        if (end > now && (!known || known(who))) {
            open_[hash] = {std::move(who), next_id_++, std::min(end, now + kSessionLifetime)};
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
        text += hash + " " + std::string(RoleName(entry.who.role)) + " " +
                std::to_string(
                    std::chrono::duration_cast<std::chrono::seconds>(entry.ends.time_since_epoch())
                        .count()) +
                " " + entry.who.name + "\n";
    }
    if (ReplaceFileDurably(file_, text, FileUse::Secret)) {
        keep_failure_.reset();
    } else {
        keep_failure_ = "cannot write the sessions file " + file_.string() +
                        ": logins end when the service stops";
    }
}

std::optional<std::string> Sessions::Open(const Identity& who, Clock::time_point now) {
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
    const auto same_name = [&who](const auto& entry) { return entry.second.who.name == who.name; };
    if (static_cast<std::size_t>(std::count_if(open_.begin(), open_.end(), same_name)) >=
        kMostSessionsPerName) {
        auto oldest = open_.end();
        for (auto it = open_.begin(); it != open_.end(); ++it) {
            if (same_name(*it) &&
                (oldest == open_.end() || it->second.ends < oldest->second.ends)) {
                oldest = it;
            }
        }
        open_.erase(oldest);
    }
    open_[*hash] = {who, next_id_++, now + kSessionLifetime};
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
    return Session{found->second.who, found->second.id};
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

std::optional<long> LoginThrottle::Waiting(const std::string& client,
                                           const std::vector<std::string>& names,
                                           Clock::time_point now) {
    std::optional<long> longest;
    for (const std::string& name : names) {
        const auto found = entries_.find({client, name});
        if (found == entries_.end() || found->second.until <= now) {
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::seconds>(found->second.until - now);
        longest = std::max<long>(longest.value_or(1), static_cast<long>(left.count()));
    }
    return longest;
}

void LoginThrottle::Failed(const std::string& client, const std::vector<std::string>& names,
                           Clock::time_point now) {
    for (const std::string& name : names) {
        const Key key{client, name};
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

void LoginThrottle::Succeeded(const std::string& client, const std::string& name) {
    entries_.erase({client, name});
}

} // namespace lumidex
