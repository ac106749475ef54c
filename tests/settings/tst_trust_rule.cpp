// The trust rule as pure decisions: what a concern means for an ordinary
// and a privileged process, and whom a Windows owner and access list let
// change a file, as tables that run on every system.
#include "settings/trust_rule.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace lumidex {
namespace {

constexpr const char* kUser = "S-1-5-21-1-2-3-1001";
constexpr const char* kOtherUser = "S-1-5-21-1-2-3-1002";
constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kAuthenticatedUsers = "S-1-5-11";
constexpr const char* kEveryone = "S-1-1-0";
constexpr const char* kCreatorOwner = "S-1-3-0";

TEST(TrustRule, SecretsAreKeptFromOtherReaders) {
    struct Row {
        std::uint32_t mode;
        FileUse use;
        const char* readers; // nullptr: no one else
    };
    const Row rows[] = {
        {0600, FileUse::Secret, nullptr},       {0640, FileUse::Secret, "its group"},
        {0604, FileUse::Secret, "every user"},  {0644, FileUse::Secret, "every user"},
        {0640, FileUse::Credential, nullptr},   {0644, FileUse::Credential, "every user"},
        {0644, FileUse::Configuration, nullptr}, {0755, FileUse::Folder, nullptr},
    };
    for (const Row& row : rows) {
        const auto readers = OtherReadersByMode(row.mode, row.use);
        EXPECT_EQ(readers.has_value(), row.readers != nullptr) << std::oct << row.mode;
        if (readers && row.readers) {
            EXPECT_EQ(*readers, row.readers) << std::oct << row.mode;
        }
    }
}

TEST(TrustRule, AccessFollowsTheConcernAndWhoRuns) {
    struct Row {
        TrustConcern concern;
        SettingsAccess ordinary;
        SettingsAccess privileged;
    };
    const Row rows[] = {
        {TrustConcern::None, SettingsAccess::ReadWrite, SettingsAccess::ReadWrite},
        {TrustConcern::CreateThroughLink, SettingsAccess::ReadOnly, SettingsAccess::ReadOnly},
        {TrustConcern::OtherUsers, SettingsAccess::ReadOnly, SettingsAccess::NotTrusted},
        {TrustConcern::NotRegular, SettingsAccess::NotTrusted, SettingsAccess::NotTrusted},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(AccessFor(row.concern, false), row.ordinary) << static_cast<int>(row.concern);
        EXPECT_EQ(AccessFor(row.concern, true), row.privileged) << static_cast<int>(row.concern);
    }
}

AccessEntry Allow(const char* sid, std::uint32_t mask, bool inherit_only = false) {
    return {true, sid, mask, inherit_only};
}

AccessEntry Deny(const char* sid, std::uint32_t mask) {
    return {false, sid, mask, false};
}

struct AclCase {
    const char* name;
    SecurityFacts facts;
    std::uint32_t rights;
    const char* found; // part of the reason; nullptr when no one else may
};

using namespace rights;

// Access lists as Windows gives them to folders and files it makes, and as
// installers and people change them.
const AclCase kAclCases[] = {
    {"a profile folder: the user, SYSTEM and Administrators",
     {kUser,
      std::vector<AccessEntry>{Allow(kSystem, kFullControl), Allow(kAdministrators, kFullControl),
                               Allow(kUser, kFullControl)}},
     kToChange,
     nullptr},
    {"Program Files: users may read and run",
     {kTrustedInstaller,
      std::vector<AccessEntry>{Allow(kTrustedInstaller, kFullControl), Allow(kSystem, kFullControl),
                               Allow(kAdministrators, kFullControl), Allow(kUsers, kReadAndExecute),
                               Allow(kCreatorOwner, kGenericAll, true)}},
     kToChange,
     nullptr},
    {"a folder at the top of a second drive",
     {kUser, std::vector<AccessEntry>{Allow(kAdministrators, kFullControl),
                                      Allow(kSystem, kFullControl), Allow(kUsers, kReadAndExecute),
                                      Allow(kAuthenticatedUsers, kModify)}},
     kToChange,
     "can be changed by S-1-5-11"},
    {"users may only add files to what is made inside",
     {kAdministrators,
      std::vector<AccessEntry>{Allow(kAdministrators, kFullControl), Allow(kUsers, kReadAndExecute),
                               Allow(kUsers, kWriteData | kAppendData, true)}},
     kToChange,
     nullptr},
    {"users may add folders here",
     {kAdministrators, std::vector<AccessEntry>{Allow(kAdministrators, kFullControl),
                                                Allow(kUsers, kReadAndExecute | kAppendData)}},
     kToChange,
     "can be changed by S-1-5-32-545"},
    {"another user owns it",
     {kOtherUser, std::vector<AccessEntry>{Allow(kUser, kFullControl)}},
     kToChange,
     "belongs to another user (S-1-5-21-1-2-3-1002)"},
    {"another user may change its access list",
     {kUser, std::vector<AccessEntry>{Allow(kUser, kFullControl), Allow(kOtherUser, kWriteDac)}},
     kToChange,
     "can be changed by S-1-5-21-1-2-3-1002"},
    {"everyone may delete it",
     {kUser, std::vector<AccessEntry>{Allow(kUser, kFullControl), Allow(kEveryone, kDelete)}},
     kToChange,
     "can be changed by S-1-1-0"},
    {"a generic right to write",
     {kUser, std::vector<AccessEntry>{Allow(kUsers, kGenericWrite)}},
     kToChange,
     "can be changed by S-1-5-32-545"},
    {"no access list at all", {kUser, std::nullopt}, kToChange, "has no access list"},
    {"an empty access list lets no one in",
     {kUser, std::vector<AccessEntry>{}},
     kToChange,
     nullptr},
    {"a denial of the same group before its grant",
     {kUser, std::vector<AccessEntry>{Deny(kUsers, kToChange), Allow(kUser, kFullControl),
                                      Allow(kUsers, kModify)}},
     kToChange,
     nullptr},
    {"a denial of everyone before a grant",
     {kUser,
      std::vector<AccessEntry>{Deny(kEveryone, kToChange), Allow(kAuthenticatedUsers, kModify)}},
     kToChange,
     nullptr},
    {"a denial after the grant comes too late",
     {kUser, std::vector<AccessEntry>{Allow(kUsers, kModify), Deny(kUsers, kToChange)}},
     kToChange,
     "can be changed by S-1-5-32-545"},
    {"a denial of another group leaves the grant",
     {kUser,
      std::vector<AccessEntry>{Deny(kAuthenticatedUsers, kToChange), Allow(kUsers, kModify)}},
     kToChange,
     "can be changed by S-1-5-32-545"},
    {"a denial leaves the rights it does not name",
     {kUser, std::vector<AccessEntry>{Deny(kUsers, kWriteData), Allow(kUsers, kModify)}},
     kToChange,
     "can be changed by S-1-5-32-545"},
    {"reading is no change",
     {kUser,
      std::vector<AccessEntry>{Allow(kUser, kFullControl), Allow(kEveryone, kReadAndExecute)}},
     kToChange,
     nullptr},
    {"but it opens a lock file",
     {kUser,
      std::vector<AccessEntry>{Allow(kUser, kFullControl), Allow(kEveryone, kReadAndExecute)}},
     kToLock,
     "can be opened by S-1-1-0"},
    {"a secret in a folder users may read",
     {kUser, std::vector<AccessEntry>{Allow(kUser, kFullControl), Allow(kSystem, kFullControl),
                                      Allow(kUsers, kReadAndExecute)}},
     kToRead,
     "can be read by S-1-5-32-545"},
    {"a secret of the user, the Administrators and SYSTEM",
     {kUser, std::vector<AccessEntry>{Allow(kUser, kFullControl), Allow(kSystem, kFullControl),
                                      Allow(kAdministrators, kFullControl)}},
     kToRead,
     nullptr},
    {"a secret everyone may do anything with",
     {kUser, std::vector<AccessEntry>{Allow(kUser, kFullControl), Allow(kEveryone, kGenericAll)}},
     kToRead,
     "can be read by S-1-1-0"},
    {"OWNER RIGHTS stands for a trusted owner",
     {kAdministrators, std::vector<AccessEntry>{Allow("S-1-3-4", kFullControl)}},
     kToLock,
     nullptr},
};

class AccessList : public testing::TestWithParam<AclCase> {};

TEST_P(AccessList, SaysWhoElseMay) {
    const AclCase& c = GetParam();
    const std::string verb = c.rights == kToLock ? "opened" : c.rights == kToRead ? "read" : "changed";
    const auto found =
        WhoElseMay(c.facts, kUser, c.rights, "X", verb, [](const std::string& sid) { return sid; });
    if (c.found == nullptr) {
        EXPECT_FALSE(found) << *found;
        return;
    }
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->starts_with("X ")) << *found;
    EXPECT_NE(found->find(c.found), std::string::npos) << *found;
}

INSTANTIATE_TEST_SUITE_P(Cases, AccessList, testing::ValuesIn(kAclCases), test::RowName());

} // namespace
} // namespace lumidex
