#include "settings/trust_rule.h"

#include <array>

namespace lumidex {
namespace {

constexpr std::string_view kEveryone = "S-1-1-0";

} // namespace

void Concerns::Note(TrustConcern seen, std::string why) {
    if (seen > concern) {
        concern = seen;
        reason = std::move(why);
    }
}

std::optional<std::string_view> OtherReadersByMode(std::uint32_t mode, FileUse use) {
    constexpr std::uint32_t kGroupReads = 0040;
    constexpr std::uint32_t kOthersRead = 0004;
    const bool secret = use == FileUse::Secret || use == FileUse::Credential;
    if (secret && (mode & kOthersRead) != 0) {
        return "every user";
    }
    if (use == FileUse::Secret && (mode & kGroupReads) != 0) {
        return "its group";
    }
    return std::nullopt;
}

SettingsAccess AccessFor(TrustConcern concern, bool privileged) {
    switch (concern) {
    case TrustConcern::None:
        return SettingsAccess::ReadWrite;
    case TrustConcern::CreateThroughLink:
        return SettingsAccess::ReadOnly;
    case TrustConcern::OtherUsers:
        return privileged ? SettingsAccess::NotTrusted : SettingsAccess::ReadOnly;
    case TrustConcern::NotRegular:
        return SettingsAccess::NotTrusted;
    }
    return SettingsAccess::NotTrusted;
}

bool IsTrustedSid(std::string_view sid, std::string_view current_user_sid) {
    static constexpr std::array<std::string_view, 4> kTrusted{
        "S-1-5-32-544",                                                   // BUILTIN\Administrators
        "S-1-5-18",                                                       // NT AUTHORITY\SYSTEM
        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", // TrustedInstaller
        "S-1-3-4",                                                        // OWNER RIGHTS
    };
    if (!current_user_sid.empty() && sid == current_user_sid) {
        return true;
    }
    for (std::string_view trusted : kTrusted) {
        if (sid == trusted) {
            return true;
        }
    }
    return false;
}

std::optional<std::string>
WhoElseMay(const SecurityFacts& facts, std::string_view current_user_sid, std::uint32_t rights,
           std::string_view shown, std::string_view verb,
           const std::function<std::string(const std::string&)>& name_of) {
    const std::string object(shown);
    if (!IsTrustedSid(facts.owner_sid, current_user_sid)) {
        return object + " belongs to another user (" + name_of(facts.owner_sid) + ")";
    }
    if (!facts.entries) {
        return object + " has no access list, so every user can change it";
    }
    const std::vector<AccessEntry>& entries = *facts.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const AccessEntry& entry = entries[i];
        if (!entry.allowed || entry.inherit_only || IsTrustedSid(entry.sid, current_user_sid)) {
            continue;
        }
        std::uint32_t granted = entry.rights & rights;
        for (std::size_t j = 0; j < i && granted != 0; ++j) {
            const AccessEntry& earlier = entries[j];
            if (!earlier.allowed && !earlier.inherit_only &&
                (earlier.sid == entry.sid || earlier.sid == kEveryone)) {
                granted &= ~earlier.rights;
            }
        }
        if (granted != 0) {
            return object + " can be " + std::string(verb) + " by " + name_of(entry.sid);
        }
    }
    return std::nullopt;
}

} // namespace lumidex
