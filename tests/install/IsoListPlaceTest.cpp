// Where the user's list file lives: the data folder while the user may write it, otherwise the
// user's configuration folder, in the same format.

#include "bootitems/IsoList.h"
#include "builder/TempFolder.h"
#include "platform/Files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using vornel::bootitems::IsoListPathFor;
using vornel::bootitems::ReadIsoList;
using vornel::bootitems::UserConfigHome;
using vornel::bootitems::WriteIsoList;
using vornel::test::TempFolder;

constexpr uid_t kNobody = 65534;

TEST(IsoListPlace, AWritableDataFolderKeepsTheList) {
    TempFolder folder;
    const std::string config = folder.path().string() + "/config";
    EXPECT_EQ(IsoListPathFor(folder.slashed(), config), folder.slashed() + "isolist");
    EXPECT_FALSE(fs::exists(config)) << "nothing is made in the configuration folder";
}

// As nobody, so the data folder's permissions hold (root may write anywhere).
TEST(IsoListPlace, AnInstalledDataFolderSendsTheListToTheUsersConfiguration) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become nobody";
    TempFolder folder;
    fs::permissions(folder.path(), fs::perms::all);
    const fs::path data = folder.path() / "data";
    fs::create_directory(data);
    fs::permissions(data, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const fs::path home = folder.path() / "home";
    fs::create_directory(home);
    ASSERT_EQ(::chown(home.c_str(), kNobody, kNobody), 0);
    const std::string config = (home / "made/.config").string();
    const fs::path readOnlyConfig = folder.path() / "read-only-config"; // root's, not nobody's
    fs::create_directory(readOnlyConfig);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(10);
        ::mkdir((home / "made").c_str(), 0755);
        const std::string path = IsoListPathFor(data.string() + "/", config);
        if (path != config + "/vornel/isolist")
            ::_exit(11);
        try {
            WriteIsoList(path, {{"标题", "/images/a.iso"}, {"", "/images/b|c.iso"}});
            const auto items = ReadIsoList(path);
            if (items.size() != 2 || items[0].Title != "标题" || items[1].ImagePath != "/images/b|c.iso")
                ::_exit(12);
        } catch (...) {
            ::_exit(13);
        }
        // A configuration folder the user may not write: saving says so, not that a folder is
        // missing.
        try {
            WriteIsoList(IsoListPathFor(data.string() + "/", readOnlyConfig.string()), {});
            ::_exit(14);
        } catch (const vornel::platform::EFCreateError& error) {
            if (error.code != EACCES)
                ::_exit(15);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(data / "isolist"));
    // The folders made for the list are the user's alone; the file keeps CR LF lines.
    for (const std::string& made : {config, config + "/vornel"})
        EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
    std::ifstream list(config + "/vornel/isolist", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(list)), {});
    EXPECT_EQ(bytes, "标题|/images/a.iso\r\n|/images/b|c.iso\r\n");
}

// The variables are put back as they were: other tests in this process read them too.
class ConfigHome : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"XDG_CONFIG_HOME", "HOME"})
            if (const char* value = std::getenv(name))
                saved_.emplace_back(name, value);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("HOME");
        for (const auto& [name, value] : saved_)
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(ConfigHome, AnAbsoluteXdgConfigHomeWinsOverHomeAndTheAccount) {
    ::setenv("HOME", "/home/user", 1);
    ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(UserConfigHome(), "/somewhere/config");
    for (const char* ignored : {"relative/config", ""}) {
        ::setenv("XDG_CONFIG_HOME", ignored, 1);
        EXPECT_EQ(UserConfigHome(), "/home/user/.config") << ignored;
    }
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    const std::string account = UserConfigHome();
    EXPECT_EQ(account[0], '/');
    EXPECT_TRUE(account.ends_with("/.config")) << account;
}

} // namespace
