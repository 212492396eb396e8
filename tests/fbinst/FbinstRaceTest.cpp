// The tool under races and interruption: the object it checked is the one it writes, its helper
// programs die with it, and its lock on the drive lasts the whole command.

#include "ImageChecks.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vornel::fbinst::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// fbinst.exe started in the background, its output kept in files.
class BackgroundTool {
  public:
    BackgroundTool(const std::string& folder, const std::vector<std::string>& args)
        : out_(folder + "/tool.out"), err_(folder + "/tool.err") {
        const char* buildDir = std::getenv("VORNEL_BUILD_DIR");
        std::vector<std::string> argv{std::string(buildDir ? buildDir : ".") + "/fbinst.exe"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (std::string& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BackgroundTool() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
    }
    pid_t Pid() const { return pid_; }
    int Wait() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Out() const { return ReadWholeFile(out_); }
    std::string Err() const { return ReadWholeFile(err_); }

  private:
    std::string out_, err_;
    pid_t pid_ = 0;
};

std::string Comm(pid_t pid) {
    std::string name = ReadWholeFile("/proc/" + std::to_string(pid) + "/comm");
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

// The first child of `parent` running `program`, caught while it runs; 0 when none showed up.
pid_t CatchChild(pid_t parent, const std::string& program) {
    const std::string children =
        "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
    for (const auto until = Clock::now() + 60s; Clock::now() < until && fs::exists(children);) {
        std::istringstream list(ReadWholeFile(children));
        for (pid_t child = 0; list >> child;)
            if (Comm(child) == program)
                return child;
        std::this_thread::sleep_for(100us);
    }
    return 0;
}

bool EndedWithin(pid_t pid, std::chrono::milliseconds wait) {
    for (const auto until = Clock::now() + wait; Clock::now() < until; std::this_thread::sleep_for(10ms)) {
        const std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t state = stat.rfind(')');
        if (stat.empty() || stat.compare(state + 2, 1, "Z") == 0)
            return true;
    }
    return false;
}

class FbinstRace : public ::testing::Test {
  protected:
    void SetUp() override {
        image_ = scratch_.Path() + "/stick.img";
        MakeSparseImage(image_, 128 << 20);
        setenv("VORNEL_DRIVES", ("G=" + image_).c_str(), 1);
    }
    ScratchFolder scratch_;
    std::string image_;
};

// The user owns the image's folder and swaps the image for a link to a disk only root may write.
TEST_F(FbinstRace, AnImageSwappedForALinkNeverLeadsAWriteToTheLinksTarget) {
    const std::string kept = scratch_.Path() + "/kept.img", victim = scratch_.Path() + "/victim.img";
    fs::create_hard_link(image_, kept);
    MakeSparseImage(victim, 128 << 20);
    const std::uint64_t untouched = Fingerprint(victim);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const std::string staged = scratch_.Path() + "/staged";
        for (bool toLink = true; !stop; toLink = !toLink) {
            std::error_code ignored;
            fs::remove(staged, ignored);
            if (toLink)
                fs::create_symlink(victim, staged, ignored);
            else
                fs::create_hard_link(kept, staged, ignored);
            fs::rename(staged, image_, ignored);
            std::this_thread::sleep_for(300us);
        }
    });
    // A run either works on the image it opened and still finds under its name at the end, or is
    // refused; some of each kind must get through, or the test would prove nothing.
    int formats = 0, menus = 0;
    for (int run = 0; run < 40 && (formats < 2 || menus < 2); ++run) {
        const ToolResult format = RunFbinstExe({"G:", "format", "-f", "-a", "-p", "1m", "-e", "20m"});
        const ToolResult menu = RunFbinstExe({"G:", "add-menu", "-s", "fb.cfg", "default 0"});
        for (const ToolResult* result : {&format, &menu}) {
            const bool refused = result->err.find("is a symbolic link") != std::string::npos ||
                                 result->err.find("was replaced or removed") != std::string::npos ||
                                 result->err.find("has no boot area") != std::string::npos;
            EXPECT_TRUE(result->exitCode == 0 || refused) << result->err;
        }
        formats += format.exitCode == 0;
        menus += menu.exitCode == 0;
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(Fingerprint(victim), untouched);
    EXPECT_GE(formats, 2);
    EXPECT_GE(menus, 2);
}

TEST_F(FbinstRace, AKilledAddTakesItsCopyWithItAndTheNextFormatIsClean) {
    ASSERT_EQ(RunFbinstExe({"G:", "format", "-f", "-a", "-p", "1m", "-e", "80m"}).exitCode, 0);
    const std::string source = scratch_.Path() + "/big.iso";
    WriteWholeFile(source, std::string(64 << 20, 'x'));
    BackgroundTool add(scratch_.Path(), {"G:", "add", "boot/big.iso", source});
    const pid_t copy = CatchChild(add.Pid(), "mcopy");
    ASSERT_NE(copy, 0) << "the copy ended before it could be caught";
    kill(copy, SIGSTOP); // a copy that would otherwise go on writing after the tool is gone
    kill(add.Pid(), SIGKILL);
    add.Wait();
    const bool ended = EndedWithin(copy, 10s);
    if (!ended)
        kill(copy, SIGKILL);
    EXPECT_TRUE(ended) << "mcopy outlived the tool";

    const ToolResult format = RunFbinstExe({"G:", "format", "-f", "-a", "-p", "1m", "-e", "80m"});
    ASSERT_EQ(format.exitCode, 0) << format.err;
    EXPECT_EQ(FsckFat(image_, 2048, 80 * 2048).exitCode, 0);
}

// The image renamed over, or cut to nothing, while add copies into it: the copy's writes reach
// no file of that name (or a file cut short), so the tool fails and says what happened.
TEST_F(FbinstRace, AnImageReplacedOrCutWhileAddCopiesFailsAndSaysWhy) {
    const std::string source = scratch_.Path() + "/big.iso";
    WriteWholeFile(source, std::string(32 << 20, 'x'));
    const auto addWhile = [&](const std::function<void()>& change) {
        EXPECT_EQ(RunFbinstExe({"G:", "format", "-f", "-a", "-p", "1m", "-e", "40m"}).exitCode, 0);
        BackgroundTool add(scratch_.Path(), {"G:", "add", "boot/big.iso", source});
        const pid_t copy = CatchChild(add.Pid(), "mcopy");
        EXPECT_NE(copy, 0) << "the copy ended before it could be caught";
        kill(copy, SIGSTOP);
        change();
        kill(copy, SIGCONT);
        EXPECT_EQ(add.Wait(), 1) << add.Err();
        return add.Err();
    };
    const std::string other = scratch_.Path() + "/other.img";
    MakeSparseImage(other, 128 << 20);
    const std::string renamed = addWhile([&] { fs::rename(other, image_); });
    EXPECT_NE(renamed.find(image_ + " was replaced or removed while the command ran"), std::string::npos)
        << renamed;
    const std::string cut = addWhile([&] { fs::resize_file(image_, 0); });
    EXPECT_NE(cut.find(image_ + " changed size from 134217728 to "), std::string::npos) << cut;
}

TEST_F(FbinstRace, ASecondFormatWhileTheFirstRunsWritesNothingAndTheFirstReportsWhatIsOnDisk) {
    BackgroundTool first(scratch_.Path(), {"G:", "format", "-f", "-a", "-p", "1m", "-e", "20m"});
    const pid_t partitioner = CatchChild(first.Pid(), "sfdisk");
    ASSERT_NE(partitioner, 0) << "the first format's sfdisk ended before it could be caught";
    kill(partitioner, SIGSTOP);
    const std::uint64_t before = Fingerprint(image_);
    const ToolResult second = RunFbinstExe({"G:", "format", "-f", "-a", "-p", "1m", "-e", "40m"});
    const std::uint64_t after = Fingerprint(image_);
    kill(partitioner, SIGCONT);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(
        second.err.find("in use by another run of the disk tool (process " + std::to_string(first.Pid())),
        std::string::npos)
        << second.err;
    EXPECT_EQ(after, before);

    ASSERT_EQ(first.Wait(), 0) << first.Err();
    EXPECT_NE(first.Out().find("boot area: slot 2, start 2048, 40960 sectors"), std::string::npos)
        << first.Out();
    const auto table = SfdiskDump(image_);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].size, 40960u);
    EXPECT_EQ(FsckFat(image_, 2048, 40960).exitCode, 0);
}

// udev probes what a command wrote under a shared lock: the next command waits for it, as the
// block-device locking protocol asks, rather than failing.
TEST_F(FbinstRace, ACommandWaitsWhileAnotherProgramProbesTheDrive) {
    ASSERT_EQ(RunFbinstExe({"G:", "format", "-f", "-a", "-p", "1m", "-e", "20m"}).exitCode, 0);
    const int probe = open(image_.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(probe, LOCK_SH), 0);
    BackgroundTool add(scratch_.Path(), {"G:", "add-menu", "-s", "fb.cfg", "default 0"});
    std::this_thread::sleep_for(1500ms);
    const bool waited = !EndedWithin(add.Pid(), 100ms);
    close(probe);
    EXPECT_TRUE(waited);
    EXPECT_EQ(add.Wait(), 0) << add.Err();
}

} // namespace
} // namespace vornel::fbinst::testing
