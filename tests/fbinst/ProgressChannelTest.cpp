// The progress channel read from real runs of the built tool on an image drive, as the window
// reads it: format's steps, and an add's copy and read-back rising to the file's size.

#include "CapacityCheck.h"
#include "ImageChecks.h"
#include "platform/Process.h"
#include "progress/ProgressRecord.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vornel::fbinst::testing {
namespace {

using progress::Phase;
using progress::Record;

struct ChannelRun {
    platform::ProcessOutcome outcome;
    std::vector<Record> records;
};

ChannelRun RunWithChannel(const std::vector<std::string>& args, bool offered = true) {
    const char* buildDir = std::getenv("VORNEL_BUILD_DIR");
    std::vector<std::string> argv{std::string(buildDir ? buildDir : ".") + "/fbinst.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChannelRun run;
    progress::RecordReader reader;
    platform::ChildOptions options;
    options.captureErrors = true;
    options.onSideChannel = [&](std::string_view bytes) {
        for (const Record& record : reader.Feed(bytes))
            run.records.push_back(record);
    };
    if (offered)
        options.sideChannelEnvironment = std::string(progress::kProgressEnvironment) + "=1";
    platform::ChildProcess child(argv, options);
    while (!child.WaitSlice(std::chrono::milliseconds(100))) {
    }
    run.outcome = child.Outcome();
    return run;
}

// Each phase's records rise, never fall, and end at their total, which they all share.
void ExpectRisingToTheEnd(const std::vector<Record>& records, Phase phase, std::uint64_t total) {
    std::vector<Record> ofPhase;
    for (const Record& record : records)
        if (record.phase == phase)
            ofPhase.push_back(record);
    ASSERT_GE(ofPhase.size(), 2u);
    EXPECT_EQ(ofPhase.front().done, 0u);
    EXPECT_EQ(ofPhase.back(), (Record{phase, total, total}));
    for (std::size_t i = 0; i < ofPhase.size(); ++i) {
        EXPECT_EQ(ofPhase[i].total, total);
        if (i > 0) {
            EXPECT_LE(ofPhase[i - 1].done, ofPhase[i].done);
        }
    }
}

TEST(FbinstProgressChannel, FormatStepsAndAnAddRiseToTheirEnd) {
    const ScratchFolder scratch;
    const std::string image = scratch.Path() + "/stick.img";
    MakeSparseImage(image, 256 << 20);
    setenv("VORNEL_DRIVES", ("G=" + image).c_str(), 1);
    const ChannelRun format = RunWithChannel({"G:", "format", "-f", "-a", "-p", "8m", "-e", "120m"});
    ASSERT_TRUE(format.outcome.Succeeded());
    // The capacity check, a phase of its own, comes first: each mark written and read back.
    EXPECT_EQ(format.records.front().phase, Phase::Capacity);
    ExpectRisingToTheEnd(format.records, Phase::Capacity, 2 * MarkPlaces(256 << 20).size());
    ExpectRisingToTheEnd(format.records, Phase::Step, 5);

    // Odd-sized, so the last piece of the copy and of the check is a partial one.
    const std::uint64_t size = (96 << 20) + 12345;
    std::string bytes(size, '\0');
    std::mt19937 random(7);
    for (char& c : bytes)
        c = static_cast<char>(random());
    const std::string source = scratch.Path() + "/big.iso";
    WriteWholeFile(source, bytes);
    const ChannelRun add = RunWithChannel({"G:", "add", "boot/big.iso", source});
    ASSERT_TRUE(add.outcome.Succeeded());
    ExpectRisingToTheEnd(add.records, Phase::Copy, size);
    ExpectRisingToTheEnd(add.records, Phase::Check, size);
    // The check follows the copy.
    EXPECT_EQ(add.records.front().phase, Phase::Copy);
    EXPECT_EQ(add.records.back().phase, Phase::Check);

    // Not offered: a socket on standard input alone is no channel.
    const std::string small = scratch.Path() + "/small.iso";
    WriteWholeFile(small, bytes.substr(0, 1 << 20));
    const ChannelRun unoffered = RunWithChannel({"G:", "add", "boot/small.iso", small}, false);
    EXPECT_TRUE(unoffered.outcome.Succeeded());
    EXPECT_TRUE(unoffered.records.empty());
}

// A socket connected to a named one (a logger, a bus) is no channel: root's records would reach
// whoever listens there as root's words.
TEST(FbinstProgressChannel, ASocketConnectedToANamedOneGetsNothing) {
    const ScratchFolder scratch;
    const std::string image = scratch.Path() + "/stick.img";
    MakeSparseImage(image, 64 << 20);
    setenv("VORNEL_DRIVES", ("G=" + image).c_str(), 1);
    ASSERT_TRUE(RunWithChannel({"G:", "format", "-f", "-a", "-p", "8m", "-e", "16m"}).outcome.Succeeded());
    const std::string source = scratch.Path() + "/a.bin";
    WriteWholeFile(source, std::string(1 << 20, 'a'));

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = scratch.Path() + "/listener";
    name.copy(address.sun_path, sizeof address.sun_path - 1);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const int client = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const int server = ::accept(listener, nullptr, nullptr);

    setenv(progress::kProgressEnvironment, "1", 1);
    const std::string tool = std::string(std::getenv("VORNEL_BUILD_DIR")) + "/fbinst.exe";
    std::vector<std::string> args{tool, "G:", "add", "a.bin", source};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, client, STDIN_FILENO);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    unsetenv(progress::kProgressEnvironment);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0);
    ::close(client);
    char buffer[64];
    EXPECT_EQ(::read(server, buffer, sizeof buffer), 0);
    for (int fd : {server, listener})
        ::close(fd);
}

TEST(FbinstProgressChannel, AFailedAddStopsWithTheReasonAsItsLastLine) {
    const ScratchFolder scratch;
    const std::string image = scratch.Path() + "/stick.img";
    MakeSparseImage(image, 64 << 20);
    setenv("VORNEL_DRIVES", ("G=" + image).c_str(), 1);
    ASSERT_TRUE(RunWithChannel({"G:", "format", "-f", "-a", "-p", "8m", "-e", "16m"}).outcome.Succeeded());
    const std::string missing = scratch.Path() + "/missing.iso";
    const ChannelRun add = RunWithChannel({"G:", "add", "boot/x.iso", missing});
    EXPECT_EQ(add.outcome.exitCode, 1);
    EXPECT_EQ(add.outcome.lastErrorLine, "fbinst: the source file \"" + missing + "\" does not exist");
    EXPECT_TRUE(add.records.empty());
}

} // namespace
} // namespace vornel::fbinst::testing
