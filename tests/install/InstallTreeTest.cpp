// The installed tree: laid out where the desktop looks, and the program started from it, as a
// launcher starts it, finds its data folder and keeps running.

#include "install/ProgramRun.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

// Runs argv to its end with the given extra environment; its exit code, or -1.
int RunProgram(std::vector<std::string> argv, const std::vector<std::string>& extraEnvironment = {}) {
    return vornel::test::RunProgram({std::move(argv), extraEnvironment, {}});
}

class InstalledTree : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const char* build = std::getenv("VORNEL_BUILD_DIR");
        ASSERT_NE(build, nullptr);
        // One tree per process: the cases may run side by side, each in its own process.
        stage_ = fs::path(build) / "tests/install" / ("stage-" + std::to_string(getpid()));
        fs::remove_all(stage_);
        ASSERT_EQ(RunProgram({VORNEL_CMAKE_COMMAND, "--install", build, "--prefix", stage_.string()}), 0);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(stage_, ignored);
    }
    static fs::path stage_;
};

fs::path InstalledTree::stage_;

TEST_F(InstalledTree, TheProgramItsToolAndItsDataFolderSitTogether) {
    const fs::path program = stage_ / "opt/vornel";
    for (const char* executable : {"vornel", "fbinst.exe"}) {
        EXPECT_TRUE(fs::is_regular_file(program / executable)) << executable;
        EXPECT_EQ(access((program / executable).c_str(), X_OK), 0) << executable;
    }
    for (const char* file : {"data/Data.Vn", "data/Res/index.htm", "data/Res/wait.gif"})
        EXPECT_TRUE(fs::is_regular_file(program / file)) << file;
    // The program's package (with the rescue system), not the tests' one.
    EXPECT_TRUE(ReadText(program / "data/Data.Vn") ==
                ReadText(fs::path(std::getenv("VORNEL_BUILD_DIR")) / "data/Data.Vn"));
    EXPECT_FALSE(fs::exists(program / "data/isolist")) << "the user's list is not shipped";
    for (const auto& entry : fs::recursive_directory_iterator(stage_))
        EXPECT_NE(entry.path().filename(), "mkpackage") << entry.path();
    // The command on the PATH leads to the program, wherever the tree is staged.
    const fs::path command = stage_ / "usr/bin/vornel";
    ASSERT_TRUE(fs::is_symlink(command));
    EXPECT_TRUE(fs::read_symlink(command).is_relative());
    EXPECT_EQ(fs::canonical(command), fs::canonical(program / "vornel"));
}

// A PNG's width and height, from its header chunk.
std::pair<unsigned, unsigned> PngSize(const fs::path& path) {
    const std::string bytes = ReadText(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0)
        return {0, 0};
    auto word = [&](size_t at) {
        return unsigned(static_cast<unsigned char>(bytes[at])) << 24 |
               unsigned(static_cast<unsigned char>(bytes[at + 1])) << 16 |
               unsigned(static_cast<unsigned char>(bytes[at + 2])) << 8 |
               unsigned(static_cast<unsigned char>(bytes[at + 3]));
    };
    return {word(16), word(20)};
}

TEST_F(InstalledTree, TheDesktopFindsTheLauncherItsIconsAndTheToolsPolicy) {
    const fs::path share = stage_ / "usr/share";
    const std::string entry = ReadText(share / "applications/org.vornel.Vornel.desktop");
    EXPECT_NE(entry.find("\nName=VornelU盘装机\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=vornel\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=org.vornel.Vornel\n"), std::string::npos);
    EXPECT_NE(entry.find("\nCategories=System;Utility;\n"), std::string::npos);
    for (unsigned size : {16u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        EXPECT_EQ(PngSize(share / "icons/hicolor" / folder / "apps/org.vornel.Vornel.png"),
                  std::make_pair(size, size))
            << folder;
    }
    EXPECT_TRUE(fs::is_regular_file(share / "metainfo/org.vornel.Vornel.metainfo.xml"));
    // pkexec grants the kept authorization to this exact path only.
    const std::string policy = ReadText(share / "polkit-1/actions/org.vornel.fbinst.policy");
    EXPECT_NE(policy.find("<action id=\"org.vornel.fbinst\">"), std::string::npos);
    EXPECT_NE(policy.find("<allow_active>auth_admin_keep</allow_active>"), std::string::npos);
    EXPECT_NE(policy.find("\"org.freedesktop.policykit.exec.path\">/opt/vornel/fbinst.exe<"),
              std::string::npos);
}

TEST_F(InstalledTree, TheLauncherAndMetadataValidate) {
    bool checked = false;
    if (access("/usr/bin/desktop-file-validate", X_OK) == 0) {
        EXPECT_EQ(RunProgram({"desktop-file-validate",
                              (stage_ / "usr/share/applications/org.vornel.Vornel.desktop").string()}),
                  0);
        checked = true;
    }
    if (access("/usr/bin/appstreamcli", X_OK) == 0) {
        EXPECT_EQ(RunProgram({"appstreamcli", "validate", "--no-net",
                              (stage_ / "usr/share/metainfo/org.vornel.Vornel.metainfo.xml").string()}),
                  0);
        checked = true;
    }
    if (!checked)
        GTEST_SKIP() << "neither desktop-file-validate nor appstreamcli is installed";
}

// The data folder's files the window opens as it starts: the start page and the wait picture.
TEST_F(InstalledTree, TheInstalledProgramStartsAndFindsItsDataFolder) {
    const fs::path res = stage_ / "opt/vornel/data/Res";
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, res.c_str(), IN_OPEN), 0);
    const fs::path home = stage_ / "home";
    fs::create_directories(home);
    // A runtime folder of its own: a program the user runs already would take the start over.
    const std::string runtime = vornel::test::PrivateRuntimeFolder();
    const pid_t program = vornel::test::StartProgram(
        {{(stage_ / "usr/bin/vornel").string()},
         {"QT_QPA_PLATFORM=offscreen", "QTWEBENGINE_DISABLE_SANDBOX=1", "HOME=" + home.string(),
          "XDG_CONFIG_HOME=" + home.string() + "/.config", "XDG_RUNTIME_DIR=" + runtime},
         {}});
    ASSERT_GT(program, 0);

    std::set<std::string> opened;
    const auto start = std::chrono::steady_clock::now();
    bool running = true;
    // A few seconds at least, to see it stay up; longer only while the files are still unopened.
    while (std::chrono::steady_clock::now() - start < 5s ||
           (opened.size() < 2 && std::chrono::steady_clock::now() - start < 40s)) {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;)
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len)
                    opened.insert(event->name);
                at += sizeof(inotify_event) + event->len;
            }
        int status = 0;
        if (waitpid(program, &status, WNOHANG) == program) {
            running = false;
            break;
        }
        std::this_thread::sleep_for(100ms);
    }
    close(watch);
    if (running)
        vornel::test::StopProgram(program);
    fs::remove_all(runtime);
    EXPECT_TRUE(running) << "the installed program ended by itself";
    EXPECT_TRUE(opened.count("index.htm")) << "the start page was not opened from the data folder";
    EXPECT_TRUE(opened.count("wait.gif")) << "the wait picture was not opened from the data folder";
}

} // namespace
