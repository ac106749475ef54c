// The HTTP door's secrets as systemd hands them over (LoadCredential=):
// named credential:NAME in [http], read from $CREDENTIALS_DIRECTORY, judged
// by systemd's own rule, and refused in words when no such folder was given.
#include "tools/bridge/http/auth.h"
#include "tools/bridge/http/settings.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace lumidex {
namespace {

// Sets CREDENTIALS_DIRECTORY for one scope, as systemd does for a service.
class CredentialsDirectory {
public:
    explicit CredentialsDirectory(const std::filesystem::path& folder) {
        ::setenv("CREDENTIALS_DIRECTORY", folder.c_str(), 1);
    }
    CredentialsDirectory(const CredentialsDirectory&) = delete;
    CredentialsDirectory& operator=(const CredentialsDirectory&) = delete;
    ~CredentialsDirectory() { ::unsetenv("CREDENTIALS_DIRECTORY"); }
};

void WriteSecret(const std::filesystem::path& file, const std::string& text, mode_t mode) {
    test::WriteFileOrFail(file, text);
    ASSERT_EQ(::chmod(file.c_str(), mode), 0) << file;
}

TEST(HttpCredentials, AreReadWhereSystemdHandsThemOverAndNowhereElse) {
    test::TempDir dir;
    const auto folder = dir / "credentials";
    std::filesystem::create_directory(folder);
    // systemd writes a credential 0400 for the service's user, or 0440 when
    // an access list gives it to that user.
    WriteSecret(folder / "http-operator-password", *HashPasswordLine("op", 1000) + "\n", 0400);
    WriteSecret(folder / "http-admin-password", *HashPasswordLine("ad", 1000) + "\n", 0440);
    BridgeConfig boards;
    boards.doors["http"] = DoorSection{dir / "boards.ini",
                                       "http",
                                       {{"listen", "0.0.0.0:8080"},
                                        {"operator-password-file", "credential:http-operator-password"},
                                        {"admin-password-file", "credential:http-admin-password"}}};
    std::string error;
    {
        CredentialsDirectory handed_over(folder);
        const auto http = ReadHttpConfig(boards, error);
        ASSERT_TRUE(http) << error;
        EXPECT_EQ(http->admin_password_file.path, folder / "http-admin-password");
        const auto files = HttpDoorFiles(*http);
        ASSERT_EQ(files.size(), 2u);
        for (const HttpDoorFile& file : files) {
            EXPECT_EQ(file.use, FileUse::Credential) << file.what;
            EXPECT_EQ(WhyUntrusted(file.path, file.use), std::nullopt) << file.what;
        }
        // Beyond loopback the door needs both passwords: both were read.
        const auto door = PrepareHttpDoor(*http, error);
        ASSERT_TRUE(door) << error;
        EXPECT_EQ(door->credentials->Login("", "ad"), (Identity{Role::Admin, "admin"}));
        EXPECT_EQ(door->credentials->Login("", "op"), (Identity{Role::Operator, "operator"}));

        // Nothing weaker: a credential every user may read, and a secret
        // named by its path that its group may read.
        ASSERT_EQ(::chmod((folder / "http-admin-password").c_str(), 0444), 0);
        const auto every_user = WhyUntrusted(folder / "http-admin-password", FileUse::Credential);
        ASSERT_TRUE(every_user);
        EXPECT_NE(every_user->find("can be read by every user"), std::string::npos) << *every_user;
        WriteSecret(dir / "admin.pass", *HashPasswordLine("ad", 1000) + "\n", 0440);
        boards.doors["http"].values["admin-password-file"] = "admin.pass";
        const auto by_path = ReadHttpConfig(boards, error);
        ASSERT_TRUE(by_path) << error;
        EXPECT_EQ(HttpDoorFiles(*by_path)[1].use, FileUse::Secret);
        const auto group = WhyUntrusted(dir / "admin.pass", FileUse::Secret);
        ASSERT_TRUE(group);
        EXPECT_NE(group->find("can be read by its group"), std::string::npos) << *group;

        boards.doors["http"].values["tokens-file"] = "credential:../tokens";
        EXPECT_FALSE(ReadHttpConfig(boards, error));
        EXPECT_EQ(error, (dir / "boards.ini").string() +
                             ": [http] tokens-file: '../tokens' is no credential name (one file "
                             "name)");
        boards.doors["http"].values.erase("tokens-file");
    }
    // Run by hand, without systemd: the file must be named by its path.
    EXPECT_FALSE(ReadHttpConfig(boards, error));
    EXPECT_EQ(error, (dir / "boards.ini").string() +
                         ": [http] operator-password-file: the credential http-operator-password "
                         "is handed over by systemd (LoadCredential=http-operator-password:FILE), "
                         "but CREDENTIALS_DIRECTORY is not set: run by hand, name the file itself");
}

} // namespace
} // namespace lumidex
