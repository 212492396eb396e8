// The disk tool run as a user: a stick's block device needs the administrator's rights, asked
// for through a launcher; a refusal or a missing launcher is a clear failure, never a hang; an
// image drive needs no rights at all.

#include "Rights.h"
#include "Progress.h"
#include "Tool.h"
#include "disktool/ExitCodes.h"
#include "fbinst/ImageChecks.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vornel::fbinst::testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// A fake sysfs with one removable disk sdc. Its node is a block device node of a number from
// the experimental range, owned by root: nothing behind it, and never opened by these tests.
struct FakeStick : FakeSdcTree {
    FakeStick(const std::string& root, bool blockNode) : FakeSdcTree(root, true) {
        if (blockNode)
            made = ::mknod(node.c_str(), S_IFBLK | 0600, makedev(240, 7)) == 0;
        else
            made = (WriteWholeFile(node, ""), true);
    }
    bool made = false;
};

struct Outcome {
    int exitCode = -1;
    std::string err;
    bool timedOut = false;
};

// Runs the tool in a forked child, as nobody when `asNobody`, with a bound on the time: a
// launcher waiting for a password that no one can type must not hang the test.
Outcome RunInChild(bool asNobody, const std::vector<std::string>& args,
                   const platform::LinuxDriveSources& sources, const Elevation& elevation,
                   const std::string& folder) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        ::setpgid(0, 0);
        if (asNobody && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(90);
        if (::chdir(folder.c_str()) != 0)
            ::_exit(91);
        // The tool may become the launcher: its messages and the launcher's share the pipe.
        ::dup2(pipeFds[1], STDERR_FILENO);
        std::ostringstream out;
        const int code = RunFbinstWithRights(args, sources, elevation, out, std::cerr);
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    Outcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buffer[4096];
    for (;;) {
        pollfd readable{pipeFds[0], POLLIN, 0};
        const int remaining = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count());
        if (remaining <= 0) {
            outcome.timedOut = true;
            ::kill(-child, SIGKILL);
            break;
        }
        if (::poll(&readable, 1, remaining) <= 0)
            continue;
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        outcome.err.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!outcome.timedOut && WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

// A launcher standing in for pkexec: it records its arguments, one a line, and its parent
// process, says why it ends on standard error, and exits with `code`.
std::string FakeLauncher(const std::string& folder, int code) {
    const std::string path = folder + "/launcher";
    WriteWholeFile(path, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + folder +
                             "/launched\necho $PPID > " + folder + "/parent\necho 'launcher ends with' " +
                             std::to_string(code) + " >&2\nexit " + std::to_string(code) + "\n");
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    return path;
}

class RightsAsUser : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to make a block device node and to become nobody";
        fs::permissions(scratch_.Path(), fs::perms::all);
    }
    ScratchFolder scratch_;
};

TEST_F(RightsAsUser, ARefusalEndsTheToolWithAClearMessageAndTheUsersArgumentsWentToTheLauncher) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    stick.sources.imageDrives = "G=/images/g.img";
    const Elevation elevation{FakeLauncher(scratch_.Path(), 126), "/installed/fbinst.exe"};
    const std::vector<std::string> args{"C:", "format", "-f", "-r"};
    const Outcome run = RunInChild(true, args, stick.sources, elevation, scratch_.Path());
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 126);
    EXPECT_NE(run.err.find("fbinst: drive C: (" + stick.node +
                           ") needs administrator rights, asked for through pkexec; if they are refused, "
                           "nothing is written"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("launcher ends with 126"), std::string::npos) << run.err;
    const std::string expected = "/installed/fbinst.exe\n--elevated\n" + stick.node + "\nG=/images/g.img\n" +
                                 scratch_.Path() + "\nC:\nformat\n-f\n-r\n";
    EXPECT_EQ(ReadWholeFile(scratch_.Path() + "/launched"), expected);
    // The tool became the launcher, so the launcher's parent is whoever ran the tool (the window,
    // for which the kept authorization then holds across the operation's commands).
    EXPECT_EQ(ReadWholeFile(scratch_.Path() + "/parent"), std::to_string(::getpid()) + "\n");
}

// pkexec clears the environment and keeps descriptors 0 to 2 only: the window's offer of the
// progress channel (a socket as standard input) travels as the internal argument.
TEST_F(RightsAsUser, TheOfferOfProgressTravelsThroughTheLauncherAsAnArgument) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    const Elevation elevation{FakeLauncher(scratch_.Path(), 0), "/installed/fbinst.exe"};
    const auto launched = [&](bool offered, bool socket) {
        int pair[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        const int savedStdin = ::dup(STDIN_FILENO);
        if (socket)
            ::dup2(pair[1], STDIN_FILENO);
        if (offered)
            ::setenv(progress::kProgressEnvironment, "1", 1);
        RunInChild(true, {"C:", "info"}, stick.sources, elevation, scratch_.Path());
        ::unsetenv(progress::kProgressEnvironment);
        ::dup2(savedStdin, STDIN_FILENO);
        for (int fd : {savedStdin, pair[0], pair[1]})
            ::close(fd);
        return ReadWholeFile(scratch_.Path() + "/launched");
    };
    const std::string rest = stick.node + "\n\n" + scratch_.Path() + "\nC:\ninfo\n";
    EXPECT_EQ(launched(true, true),
              "/installed/fbinst.exe\n--elevated\n" + std::string(kProgressMarker) + "\n" + rest);
    // Asked for without a socket to write to, or a socket never offered: no channel.
    EXPECT_EQ(launched(true, false), "/installed/fbinst.exe\n--elevated\n" + rest);
    EXPECT_EQ(launched(false, true), "/installed/fbinst.exe\n--elevated\n" + rest);
}

TEST_F(RightsAsUser, TheElevatedToolsOwnFailureCodeIsPassedOn) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    const Elevation elevation{FakeLauncher(scratch_.Path(), 1), "/installed/fbinst.exe"};
    const Outcome run = RunInChild(true, {"C:", "info"}, stick.sources, elevation, scratch_.Path());
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(RightsAsUser, AMissingLauncherIsAClearFailure) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    const Elevation elevation{scratch_.Path() + "/no-such-pkexec", "/installed/fbinst.exe"};
    const Outcome run = RunInChild(true, {"C:", "info"}, stick.sources, elevation, scratch_.Path());
    EXPECT_EQ(run.exitCode, disktool::kExitNoRights);
    EXPECT_NE(run.err.find("needs administrator rights, and pkexec, which asks for them, is not installed"),
              std::string::npos)
        << run.err;
}

// The system's own pkexec, with no authentication agent here: it must answer, not wait.
TEST_F(RightsAsUser, TheSystemsPkexecWithoutAnAgentRefusesInBoundedTime) {
    if (!fs::exists("/usr/bin/pkexec"))
        GTEST_SKIP() << "pkexec is not installed";
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    const Elevation elevation{"/usr/bin/pkexec", "/bin/true"};
    const Outcome run = RunInChild(true, {"C:", "info"}, stick.sources, elevation, scratch_.Path());
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 127) << run.err;
    EXPECT_NE(run.err.find("needs administrator rights, asked for through pkexec"), std::string::npos)
        << run.err;
}

TEST_F(RightsAsUser, ANodeThatIsNoBlockDeviceAsksForNoRights) {
    FakeStick stick(scratch_.Path(), false);
    const Elevation elevation{FakeLauncher(scratch_.Path(), 0), "/installed/fbinst.exe"};
    const Outcome run = RunInChild(true, {"C:", "info"}, stick.sources, elevation, scratch_.Path());
    EXPECT_EQ(run.exitCode, disktool::kExitFailure);
    EXPECT_NE(run.err.find("is not a block device"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(scratch_.Path() + "/launched"));
}

TEST_F(RightsAsUser, AnImageDriveIsWrittenWithoutRights) {
    const std::string image = scratch_.Path() + "/stick.img";
    MakeSparseImage(image, 64 << 20);
    ASSERT_EQ(::chown(image.c_str(), kNobody, kNobody), 0);
    platform::LinuxDriveSources sources;
    sources.sysfsRoot = scratch_.Path() + "/empty-sys";
    sources.imageDrives = "G=" + image;
    const Elevation elevation{FakeLauncher(scratch_.Path(), 0), "/installed/fbinst.exe"};
    const Outcome run = RunInChild(true, {"G:", "format", "-f", "-a", "-p", "1m", "-e", "8m"}, sources,
                                   elevation, scratch_.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(fs::exists(scratch_.Path() + "/launched"));
    EXPECT_FALSE(SfdiskDump(image).empty());
}

// The root side trusts nothing it was handed: the letter must still resolve to the device.
class ElevatedSide : public RightsAsUser {
  protected:
    Outcome RunElevatedForm(const FakeStick& stick, const std::string& device, const std::string& drives,
                            bool asNobody = false) {
        const std::vector<std::string> args{"--elevated", device, drives, scratch_.Path(), "C:", "info"};
        return RunInChild(asNobody, args, stick.sources, Elevation{"/nonexistent", "/nonexistent"},
                          scratch_.Path());
    }
};

TEST_F(ElevatedSide, ADifferentDeviceIsRefused) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    const Outcome run = RunElevatedForm(stick, "/dev/sdz", "");
    EXPECT_EQ(run.exitCode, disktool::kExitFailure);
    EXPECT_NE(run.err.find(": is now " + stick.node + ", no longer /dev/sdz: nothing was written"),
              std::string::npos)
        << run.err;
}

TEST_F(ElevatedSide, ALetterTheImageDrivesTakeIsRefused) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    const std::string image = scratch_.Path() + "/c.img";
    MakeSparseImage(image, 1 << 20);
    const std::uint64_t before = Fingerprint(image);
    const Outcome run = RunElevatedForm(stick, stick.node, "C=" + image);
    EXPECT_EQ(run.exitCode, disktool::kExitFailure);
    EXPECT_NE(run.err.find("is no longer the block device"), std::string::npos) << run.err;
    EXPECT_EQ(Fingerprint(image), before);
}

TEST_F(ElevatedSide, TheSameDeviceGoesOnToTheTool) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    // Past the check the tool opens the node, which has no device behind it.
    const Outcome run = RunElevatedForm(stick, stick.node, "");
    EXPECT_EQ(run.exitCode, disktool::kExitFailure);
    EXPECT_EQ(run.err.find("no longer"), std::string::npos) << run.err;
}

TEST_F(ElevatedSide, TheProgressArgumentIsTakenOffBeforeTheChecks) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    const Outcome run =
        RunInChild(false, {"--elevated", kProgressMarker, stick.node, "", scratch_.Path(), "C:", "info"},
                   stick.sources, Elevation{"/nonexistent", "/nonexistent"}, scratch_.Path());
    EXPECT_EQ(run.exitCode, disktool::kExitFailure);
    EXPECT_EQ(run.err.find("no longer"), std::string::npos) << run.err;
}

TEST_F(ElevatedSide, IsOnlyForRoot) {
    FakeStick stick(scratch_.Path(), true);
    ASSERT_TRUE(stick.made);
    const Outcome run = RunElevatedForm(stick, stick.node, "", true);
    EXPECT_EQ(run.exitCode, disktool::kExitNoRights);
    EXPECT_NE(run.err.find("is only for the tool run as root"), std::string::npos) << run.err;
}

} // namespace
} // namespace vornel::fbinst::testing
