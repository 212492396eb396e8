// The disk tool's speed: `add` of a 512 MiB file, its copy and flush against dd writing the same
// file to the same bytes of the same image, and its read-back (from the medium, past the page
// cache) against a plain direct read of those bytes; and `format` of a 16 GiB sparse image.

#include "BootArea.h"
#include "CopyCheck.h"
#include "Disk.h"
#include "ExternalTool.h"
#include "Layout.h"
#include "RandomFile.h"
#include "platform/Process.h"
#include "progress/ProgressRecord.h"

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
using namespace vornel::fbinst;
using vornel::bench::WriteRandomFile;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kFileBytes = 512 * kMiB;

double Seconds(const std::vector<std::string>& argv) {
    const auto start = std::chrono::steady_clock::now();
    RunToolChecked(argv);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// An add as the window runs it: with the progress channel offered and read, and stderr captured.
// The read-back begins with its first record.
struct TimedAdd {
    double copy = 0;     // the copy and its flush, up to the read-back
    double readBack = 0; // reading the copy back from the medium and comparing it
    std::size_t records = 0;
};

TimedAdd SecondsWithProgress(const std::vector<std::string>& argv) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::optional<Clock::time_point> checking;
    TimedAdd timed;
    vornel::progress::RecordReader reader;
    vornel::platform::ChildOptions options;
    options.captureErrors = true;
    options.sideChannelEnvironment = std::string(vornel::progress::kProgressEnvironment) + "=1";
    options.onSideChannel = [&](std::string_view bytes) {
        for (const vornel::progress::Record& record : reader.Feed(bytes)) {
            ++timed.records;
            if (record.phase == vornel::progress::Phase::Check && !checking)
                checking = Clock::now();
        }
    };
    vornel::platform::ChildProcess child(argv, options);
    while (!child.WaitSlice(std::chrono::milliseconds(100))) {
    }
    if (!child.Outcome().Succeeded() || !checking)
        throw std::runtime_error(argv[0] + " failed: " + child.Outcome().lastErrorLine);
    const auto end = Clock::now();
    timed.copy = std::chrono::duration<double>(*checking - start).count();
    timed.readBack = std::chrono::duration<double>(end - *checking).count();
    return timed;
}

// Where the added file's first cluster lies in the image: the reference write goes to the same
// bytes, since the same file written elsewhere on the host's disk flushes at another speed.
std::uint64_t FileOffset(const std::string& image, const std::string& name) {
    const Disk disk(image, true, false);
    std::string whyNot;
    const auto layout = FindBootArea(disk, whyNot);
    if (!layout)
        throw std::runtime_error(whyNot);
    const std::uint64_t fatStart = layout->bootArea.start * kSectorBytes;
    std::array<std::uint8_t, 512> bootSector{};
    disk.ReadAt(fatStart, bootSector);
    const FatGeometry fat = ParseFatGeometry(bootSector);
    const auto runs = ParseClusterRuns(
        RunToolChecked({"mshowfat", "-i", image + "@@" + std::to_string(fatStart), "::/" + name}));
    if (runs.size() != 1)
        throw std::runtime_error("the added file is not in one piece");
    return fatStart + fat.dataStartBytes + (runs[0].first - 2) * fat.clusterBytes;
}

} // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / ("bench-fbinst-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string tool = FBINST_EXE;
    const std::string image = (folder / "stick.img").string();
    const std::string source = (folder / "big.iso").string();
    bool ok = true;
    try {
        // A fully allocated image behaves like a stick: no block is allocated during the copy.
        {
            const int fd = open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || posix_fallocate(fd, 0, 1400 * kMiB) != 0)
                throw std::runtime_error("cannot allocate the image");
            close(fd);
        }
        WriteRandomFile(source, kFileBytes);
        setenv("VORNEL_DRIVES", ("G=" + image).c_str(), 1);

        // Best of four each. Each round runs the five measures in another order, so a busy moment
        // of the machine, or the writeback left by the write before, hurts no side alone. The
        // references are dd writing the same bytes to the file's own clusters, and dd reading them
        // back past the cache; dd to the data partition is shown too, since another place may
        // flush at another speed on the host.
        double addBest = 1e9, copyBest = 1e9, readBackBest = 1e9, wholeBest = 1e9, ddSameBest = 1e9,
               readBest = 1e9, ddDataBest = 1e9;
        std::size_t records = 0;
        std::uint64_t fileOffset = 0;
        const auto dd = [&](std::uint64_t offset) {
            return Seconds({"dd", "if=" + source, "of=" + image, "bs=4M", "conv=fsync,notrunc",
                            "oflag=seek_bytes", "seek=" + std::to_string(offset), "status=none"});
        };
        const auto formatBootArea = [&] {
            RunToolChecked({tool, "G:", "format", "-f", "-a", "-p", "8m", "-e", "600m"});
        };
        // Each add formats the boot area afresh first, so the file lies in one piece at the same place.
        const auto placedAsBefore = [&] {
            const std::uint64_t offset = FileOffset(image, "boot/big.iso");
            if (fileOffset != 0 && offset != fileOffset)
                throw std::runtime_error("the file landed elsewhere after the same format");
            fileOffset = offset;
        };
        const auto add = [&] {
            formatBootArea();
            addBest = std::min(addBest, Seconds({tool, "G:", "add", "boot/big.iso", source}));
            placedAsBefore();
        };
        const auto addWithProgress = [&] {
            formatBootArea();
            const TimedAdd timed = SecondsWithProgress({tool, "G:", "add", "boot/big.iso", source});
            copyBest = std::min(copyBest, timed.copy);
            readBackBest = std::min(readBackBest, timed.readBack);
            wholeBest = std::min(wholeBest, timed.copy + timed.readBack);
            records = timed.records;
            placedAsBefore();
        };
        const auto plainRead = [&] {
            readBest = std::min(readBest, Seconds({"dd", "if=" + image, "of=/dev/null", "bs=4M",
                                                   "iflag=direct,skip_bytes,count_bytes",
                                                   "skip=" + std::to_string(fileOffset),
                                                   "count=" + std::to_string(kFileBytes), "status=none"}));
        };
        const std::vector<std::function<void()>> measures{
            add, addWithProgress, [&] { ddSameBest = std::min(ddSameBest, dd(fileOffset)); }, plainRead,
            [&] { ddDataBest = std::min(ddDataBest, dd(700 * kMiB)); }};
        add(); // places the file, for the references
        for (std::size_t round = 0; round < 4; ++round) {
            for (std::size_t i = 0; i < measures.size(); ++i)
                measures[(round + i) % measures.size()]();
        }
        const auto rate = [](double seconds) { return kFileBytes / kMiB / seconds; };
        std::printf("add 512 MiB as the window runs it (%zu progress records read): copy and flush %.2f s, "
                    "read-back %.2f s\n",
                    records, copyBest, readBackBest);
        const double copyRatio = rate(copyBest) / rate(ddSameBest);
        std::printf(
            "  copy and flush against dd bs=4M conv=fsync to the file's clusters (%.2f s, %.0f MiB/s): "
            "ratio %.2f (target >= 0.80)\n",
            ddSameBest, rate(ddSameBest), copyRatio);
        const double readRatio = readBackBest / readBest;
        std::printf("  read-back against dd iflag=direct bs=4M of the same bytes (%.2f s, %.0f MiB/s): "
                    "ratio %.2f (target <= 1.10)\n",
                    readBest, rate(readBest), readRatio);
        ok = ok && copyRatio >= 0.8 && readRatio <= 1.1 && records > 0;
        std::printf("for information: the whole add %.2f s (without the progress channel %.2f s) against "
                    "the dd write and read, %.2f s: ratio %.2f\n",
                    wholeBest, addBest, ddSameBest + readBest, (ddSameBest + readBest) / wholeBest);
        std::printf("for information, dd to the data partition: %.2f s (%.0f MiB/s); ratio %.2f\n",
                    ddDataBest, rate(ddDataBest), rate(copyBest) / rate(ddDataBest));
        fs::remove(image);
        fs::remove(source);

        const std::string big = (folder / "big.img").string();
        std::ofstream(big, std::ios::binary).close();
        fs::resize_file(big, 16ull << 30);
        setenv("VORNEL_DRIVES", ("G=" + big).c_str(), 1);
        const double format = Seconds({tool, "G:", "format", "-f", "-a", "-p", "8m", "-e", "710m"});
        std::printf("format of a 16 GiB sparse image: %.2f s (target < 5 s)\n", format);
        ok = ok && format < 5.0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_fbinst: %s\n", e.what());
        ok = false;
    }
    fs::remove_all(folder);
    return ok ? 0 : 1;
}
