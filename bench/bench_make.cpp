// The whole make: the make operation, as the make button runs it (the built package, the real disk
// tool and its own command lines), onto an image drive with one 1 GiB custom image. Everything but
// its verifying reads (each add's read-back from the medium, timed from its first check record to
// its last) against dd of the same bytes (the package's payload and the image) into the same image
// drive; the verifying reads against a plain direct read of those bytes.
//
//   bench_make                  onto an image drive of this machine (the page cache's speed)
//   bench_make --device DEVICE  onto the removable stick DEVICE (for the test machine's throttled
//                               stick, see bench_vm_make): dd writes with oflag=direct there
// With strace on the machine, one more make is traced to count the helper processes it starts,
// the loader's config writes and the reads of fb.cfg.

#include "RandomFile.h"
#include "builder/Operations.h"
#include "builder/RunAndWait.h"
#include "package/u_Package.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "progress/ProgressRecord.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace vornel;
using bench::WriteRandomFile;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kImageBytes = 1024 * kMiB;
// The drive: the layout the make asks for around the payload and the image, with room to spare.
constexpr std::uint64_t kDriveBytes = kImageBytes + 320 * kMiB;
const char* const kDone = "恭喜你，制作完成！";

// The window as the make button sees it: the drive is chosen and every question is answered yes.
class ConfirmingHost final : public builder::OperationHost {
  public:
    explicit ConfirmingHost(char letter) : letter_(letter) {}
    std::string SelectedDriveText() override { return std::string(1, letter_) + ": (bench drive)"; }
    bool ZipModeSelected() override { return false; }
    void SetBusy(bool) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool ConfirmWarning(const std::string&) override { return true; }
    void ProcessEvents() override {}
    void Terminate() override {}
    std::vector<std::string> messages;

  private:
    char letter_;
};

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Run(const std::vector<std::string>& argv) {
    platform::ChildOptions options;
    options.captureErrors = true;
    platform::ChildProcess child(argv, options);
    while (!child.WaitSlice(std::chrono::milliseconds(100))) {
    }
    if (!child.Outcome().Succeeded())
        throw std::runtime_error(argv[0] + " failed: " + child.Outcome().lastErrorLine);
}

// The payload the make copies (every file of the package's file list), as one flushed file.
std::uint64_t WritePayload(const std::string& package, const std::string& folder, const std::string& out) {
    package::TFDPackage reader;
    if (reader.ExtractAll(package, folder) < 0)
        throw std::runtime_error("cannot unpack " + package);
    std::ofstream joined(out, std::ios::binary);
    for (std::string entry : platform::ReadTextLines(folder + "filelist")) {
        std::replace(entry.begin(), entry.end(), '\\', '/');
        std::ifstream in(folder + entry, std::ios::binary);
        joined << in.rdbuf();
    }
    joined.close();
    const int fd = open(out.c_str(), O_WRONLY | O_CLOEXEC);
    const bool flushed = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0)
        close(fd);
    if (!joined || !flushed)
        throw std::runtime_error("cannot write " + out);
    return fs::file_size(out);
}

struct MakeSetup {
    std::string dataFolder;
    std::string tempFolder;
    platform::DriveQueries* drives = nullptr;
    char letter = 0;
};

// The tool's report of each command would bury the results: stdout goes to /dev/null meanwhile.
class QuietStdout {
  public:
    QuietStdout() : saved_((std::fflush(stdout), dup(STDOUT_FILENO))) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    ~QuietStdout() {
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

  private:
    int saved_;
};

using Clock = std::chrono::steady_clock;

// Where one make's time went.
struct MakeTimes {
    double whole = 0;
    double readingBack = 0;   // the adds' verifying reads: from each first check record to its last
    double imageCommand = 0;  // the custom image's add up to its verifying read
    double otherCommands = 0; // every other tool command, its verifying read left out
    int otherCount = 0;
};

// One make through the operation; `wrap` goes before each tool command line. The command whose
// line names `customImage` is timed apart.
MakeTimes Make(const MakeSetup& setup, const std::string& customImage, const std::string& wrap = {}) {
    const QuietStdout quiet;
    ConfirmingHost host(setup.letter);
    MakeTimes times;
    const auto seconds = [](Clock::duration span) { return std::chrono::duration<double>(span).count(); };
    builder::OperationEnvironment environment{
        setup.dataFolder,
        [&] { return setup.tempFolder; },
        setup.drives,
        [&](const std::string& line, const std::function<void()>& events,
            const builder::ProgressListener& listen) {
            const Clock::time_point start = Clock::now();
            std::optional<Clock::time_point> checkStart, checkEnd;
            const auto outcome =
                builder::RunAndWait(wrap + line, events, [&](const progress::Record& record) {
                    if (record.phase == progress::Phase::Check) {
                        if (!checkStart)
                            checkStart = Clock::now();
                        if (record.done == record.total)
                            checkEnd = Clock::now();
                    }
                    listen(record);
                });
            const Clock::time_point end = Clock::now();
            const double reading = checkStart && checkEnd ? seconds(*checkEnd - *checkStart) : 0;
            times.readingBack += reading;
            if (line.find(customImage) != std::string::npos) {
                times.imageCommand += seconds((checkStart ? *checkStart : end) - start);
            } else {
                times.otherCommands += seconds(end - start) - reading;
                ++times.otherCount;
            }
            return outcome;
        },
        {},
        {}};
    const Clock::time_point start = Clock::now();
    builder::MakeBootDisk(host, environment);
    times.whole = seconds(Clock::now() - start);
    if (host.messages != std::vector<std::string>{kDone})
        throw std::runtime_error("the make ended with: " +
                                 (host.messages.empty() ? "" : host.messages.back()));
    return times;
}

// What one make started, from an strace -f log of its execve calls.
struct Counts {
    std::size_t processes = 0;
    std::size_t configWrites = 0;
    std::size_t fbCfgReads = 0;
};

Counts CountTrace(const std::string& log) {
    Counts counts;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find("execve(") == std::string::npos || line.find(" = 0") == std::string::npos)
            continue;
        ++counts.processes;
        // The program's path, then its arguments: "/usr/bin/mcopy", ["/usr/bin/mcopy", ...
        const bool copy = line.find("mcopy\", [") != std::string::npos;
        const bool type = line.find("mtype\", [") != std::string::npos;
        if (copy && line.find("::/vornel/grub.cfg") != std::string::npos)
            ++counts.configWrites;
        if (type && line.find("::/fb.cfg") != std::string::npos)
            ++counts.fbCfgReads;
    }
    return counts;
}

bool HasStrace() {
    return std::system("command -v strace >/dev/null") == 0;
}

// The letter the drive list gives the block device `device`.
char LetterOf(platform::DriveQueries& drives, const std::string& device) {
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (drives.IsRemovable(letter) && drives.DevicePath(letter) == device)
            return letter;
    throw std::runtime_error(device + " is not a removable drive here");
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const bool onDevice = args.size() == 2 && args[0] == "--device";
    if (!args.empty() && !onDevice) {
        std::fprintf(stderr, "usage: bench_make [--device DEVICE]\n");
        return 2;
    }
    const fs::path folder = fs::temp_directory_path() / ("bench-make-" + std::to_string(getpid()));
    fs::create_directories(folder / "data");
    fs::create_directories(folder / "temp");
    fs::create_directories(folder / "payload");
    const std::string drive = onDevice ? args[1] : (folder / "stick.img").string();
    const std::string custom = (folder / "custom.iso").string();
    const std::string payload = (folder / "payload.bin").string();
    bool ok = true;
    try {
        // A fully allocated image behaves like a stick: no block is allocated during the writes.
        if (!onDevice) {
            const int fd = open(drive.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0 || posix_fallocate(fd, 0, static_cast<off_t>(kDriveBytes)) != 0)
                throw std::runtime_error("cannot allocate the image");
            close(fd);
            setenv("VORNEL_DRIVES", ("G=" + drive).c_str(), 1);
        }
        fs::copy_file(VORNEL_DATA_VN, folder / "data" / "Data.Vn");
        WriteRandomFile(custom, kImageBytes);
        std::uint64_t payloadBytes =
            WritePayload(VORNEL_DATA_VN, (folder / "payload").string() + "/", payload);
        if (onDevice) {
            // dd oflag=direct writes whole sectors only: the payload is padded to a whole page.
            payloadBytes = (payloadBytes + 4095) / 4096 * 4096;
            fs::resize_file(payload, payloadBytes);
        }
        std::ofstream(folder / "data" / "isolist", std::ios::binary) << "自定义光盘|" << custom << "\r\n";
        const auto drives = platform::CreateLinuxDriveQueries(platform::SystemDriveSources());
        const MakeSetup setup{(folder / "data").string() + "/", (folder / "temp").string() + "/",
                              drives.get(), onDevice ? LetterOf(*drives, drive) : 'G'};

        // dd writes where the boot area begins (8 MiB): the payload, then the image after it; to a
        // stick past the cache, as a careful user would.
        const std::string writeFlags = onDevice ? "oflag=direct,seek_bytes" : "oflag=seek_bytes";
        const auto dd = [&](const std::string& source, std::uint64_t offset) {
            Run({"dd", "if=" + source, "of=" + drive, "bs=4M",
                 onDevice ? "conv=notrunc" : "conv=fsync,notrunc", writeFlags,
                 "seek=" + std::to_string(offset), "status=none"});
        };
        const auto read = [&](std::uint64_t offset, std::uint64_t bytes) {
            Run({"dd", "if=" + drive, "of=/dev/null", "bs=4M", "iflag=direct,skip_bytes,count_bytes",
                 "skip=" + std::to_string(offset), "count=" + std::to_string(bytes), "status=none"});
        };
        // Best of the rounds each: the make (all but its verifying reads), those reads, dd of the
        // payload and of the image.
        MakeTimes best{1e9, 1e9, 1e9, 1e9, 0};
        double makeBest = 1e9, payloadDdBest = 1e9, imageDdBest = 1e9, readBest = 1e9;
        const auto make = [&] {
            const MakeTimes times = Make(setup, custom);
            makeBest = std::min(makeBest, times.whole - times.readingBack);
            best.readingBack = std::min(best.readingBack, times.readingBack);
            best.imageCommand = std::min(best.imageCommand, times.imageCommand);
            best.otherCommands = std::min(best.otherCommands, times.otherCommands);
            best.otherCount = times.otherCount;
        };
        const auto copy = [&] {
            payloadDdBest = std::min(payloadDdBest, Seconds([&] { dd(payload, 8 * kMiB); }));
            imageDdBest = std::min(imageDdBest, Seconds([&] { dd(custom, 8 * kMiB + payloadBytes); }));
        };
        const auto plainRead = [&] {
            // Whole pages, as a direct read takes them.
            const std::uint64_t written = (payloadBytes + kImageBytes + 4095) / 4096 * 4096;
            readBest = std::min(readBest, Seconds([&] { read(8 * kMiB, written); }));
        };
        // On this machine three rounds, each in another order, so a busy moment of the machine, or
        // the writeback left by the write before, hurts no side alone; best of three each. A
        // throttled stick takes minutes a round and keeps its pace: one round.
        const std::vector<std::function<void()>> measures{make, copy, plainRead};
        const std::size_t rounds = onDevice ? 1 : 3;
        for (std::size_t round = 0; round < rounds; ++round)
            for (std::size_t i = 0; i < measures.size(); ++i)
                measures[(round + i) % measures.size()]();
        const double target = onDevice ? 1.1 : 1.2;
        const double ddBest = payloadDdBest + imageDdBest;
        const double ratio = makeBest / ddBest;
        std::printf(
            "make with a 1 GiB custom image (%.1f MiB of payload) on %s, but its verifying reads: %.2f s\n",
            static_cast<double>(payloadBytes) / kMiB, drive.c_str(), makeBest);
        std::printf("  against dd bs=4M %s of the same bytes, %.2f s: ratio %.2f (target at most %.2f)\n",
                    onDevice ? "oflag=direct" : "conv=fsync", ddBest, ratio, target);
        std::printf("  of which the custom image's add up to its verifying read: %.2f s, against dd of the "
                    "image alone %.2f s: ratio %.2f\n",
                    best.imageCommand, imageDdBest, best.imageCommand / imageDdBest);
        std::printf("  and the other %d commands: %.2f s, %.2f s each, against dd of the payload %.2f s\n",
                    best.otherCount, best.otherCommands, best.otherCommands / std::max(best.otherCount, 1),
                    payloadDdBest);
        const double readRatio = best.readingBack / readBest;
        std::printf("its verifying reads: %.2f s\n  against dd iflag=direct bs=4M of the same bytes, %.2f s: "
                    "ratio %.2f (target at most 1.10)\n",
                    best.readingBack, readBest, readRatio);
        ok = ratio <= target && readRatio <= 1.1;

        if (onDevice) {
            // A traced make would take minutes more on the stick.
        } else if (HasStrace()) {
            const std::string log = (folder / "trace").string();
            Make(setup, custom, "strace -f -qq -A -s 256 -e trace=execve -o " + log + " ");
            const Counts counts = CountTrace(log);
            // The first program started is the tool of the first command line; each command line
            // starts its own.
            std::printf("for information, one make: %zu processes started (the tool and its helpers), "
                        "%zu writes of the loader's config, %zu reads of fb.cfg\n",
                        counts.processes, counts.configWrites, counts.fbCfgReads);
        } else {
            std::printf("for information: no strace here, the helper processes were not counted\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_make: %s\n", e.what());
        ok = false;
    }
    unsetenv("VORNEL_DRIVES");
    fs::remove_all(folder);
    return ok ? 0 : 1;
}
