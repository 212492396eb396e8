// Extraction speed and memory: TFDPackage::ExtractAll against a plain zlib loop that inflates the
// same streams into files with the same chunk and block sizes, on a package of more than 256 MiB
// of mixed compressible and incompressible entries (two of them over 64 MiB).

#include "PackageWriter.h"
#include "package/u_Package.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;
using namespace vornel;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// Endless bytes: text-like lines (compress well) or a xorshift sequence (do not compress).
struct Generator {
    bool text;
    std::uint32_t state;
    std::uint64_t produced = 0;
    std::size_t Fill(unsigned char* out, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i, ++produced) {
            if (text) {
                static const char line[] = "title 从本地硬盘启动 chainloader +1 rootnoverify (hd1)\r\n";
                out[i] = static_cast<unsigned char>(line[(produced + produced / 4093) % (sizeof line - 1)]);
            } else {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                out[i] = static_cast<unsigned char>(state);
            }
        }
        return size;
    }
};

struct EntryPlan {
    std::string name;
    std::size_t size;
    bool text;
};

std::vector<EntryPlan> Entries() {
    std::vector<EntryPlan> plans = {{"big\\text.img", 80 * kMiB, true}, {"big\\noise.iso", 72 * kMiB, false}};
    for (std::size_t i = 0; i < 24; ++i)
        plans.push_back({"boot\\mid" + std::to_string(i), (1 + i % 8) * kMiB + 12345, i % 2 == 0});
    for (std::size_t i = 0; i < 200; ++i)
        plans.push_back({"small\\f" + std::to_string(i), 2000 + 997 * i, i % 3 != 0});
    return plans;
}

void MakePackage(const std::string& path) {
    mkpackage::PackageWriter writer(path, 1);
    std::uint32_t seed = 7;
    for (const EntryPlan& entry : Entries()) {
        Generator generator{entry.text, seed++};
        std::size_t left = entry.size;
        writer.AddStream(
            entry.name,
            [&](unsigned char* buffer, std::size_t size) {
                const std::size_t n = generator.Fill(buffer, std::min(size, left));
                left -= n;
                return n;
            },
            package::kAttrArchive);
    }
    writer.Finish();
}

// The reference: what any program would write to inflate the entries with zlib.
std::int64_t ReferenceExtract(const std::string& packagePath, const fs::path& dest) {
    package::TPackedFileInfoArr entries;
    package::TPackageHeader header;
    if (package::TFDPackage::ReadFileList(packagePath, entries, header) < 0)
        return -1;
    const int source = ::open(packagePath.c_str(), O_RDONLY);
    std::vector<unsigned char> in(package::kInputBlockSize);
    std::vector<unsigned char> out(package::kChunkSize);
    std::int64_t total = 0;
    for (const auto& entry : entries) {
        std::string name = entry.FileName;
        std::replace(name.begin(), name.end(), '\\', '/');
        const fs::path path = dest / name;
        fs::create_directories(path.parent_path());
        const int output = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::lseek(source, entry.DataPos, SEEK_SET);
        z_stream stream{};
        ::inflateInit(&stream);
        std::int64_t left = entry.FileSize;
        int rc = Z_OK;
        while (left > 0 && rc == Z_OK) {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(std::min<std::int64_t>(left, package::kChunkSize));
            while (stream.avail_out > 0 && rc == Z_OK) {
                if (stream.avail_in == 0) {
                    stream.avail_in = static_cast<uInt>(::read(source, in.data(), in.size()));
                    stream.next_in = in.data();
                }
                rc = ::inflate(&stream, Z_NO_FLUSH);
            }
            const std::size_t produced = static_cast<std::size_t>(stream.next_out - out.data());
            if (::write(output, out.data(), produced) != static_cast<ssize_t>(produced))
                return -1;
            left -= static_cast<std::int64_t>(produced);
            total += static_cast<std::int64_t>(produced);
        }
        ::inflateEnd(&stream);
        ::close(output);
    }
    ::close(source);
    return total;
}

std::int64_t StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(std::strlen(field)));
    return -1;
}

double Seconds(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    const fs::path base = ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = base / ("vornel-bench-package-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const std::string packagePath = (work / "Data.Vn").string();
    std::printf("building the package in %s ...\n", work.c_str());
    MakePackage(packagePath);

    std::int64_t totalSize = 0;
    for (const EntryPlan& entry : Entries())
        totalSize += static_cast<std::int64_t>(entry.size);
    const double mb = static_cast<double>(totalSize) / 1e6;
    std::printf("package: %zu entries, %.1f MB extracted, %.1f MB packed\n", Entries().size(), mb,
                static_cast<double>(fs::file_size(packagePath)) / 1e6);

    // Peak memory: reset the high-water mark, then compare it with the resident size before.
    std::ofstream("/proc/self/clear_refs") << "5";
    const std::int64_t baselineKiB = StatusKiB("VmRSS:");
    double ours = 1e9;
    double reference = 1e9;
    bool ok = true;
    // Best of five rounds, alternating which goes first, so a busy machine hurts neither side alone.
    for (int round = 0; round < 5; ++round) {
        fs::remove_all(work / "ours");
        fs::remove_all(work / "reference");
        auto runOurs = [&] {
            ours = std::min(ours, Seconds([&] {
                                package::TFDPackage extractor;
                                ok &= extractor.ExtractAll(packagePath, (work / "ours").string()) ==
                                      static_cast<std::int32_t>(Entries().size());
                            }));
        };
        auto runReference = [&] {
            reference = std::min(reference, Seconds([&] {
                                     ok &= ReferenceExtract(packagePath, work / "reference") == totalSize;
                                 }));
        };
        if (round % 2 == 0) {
            runOurs();
            runReference();
        } else {
            runReference();
            runOurs();
        }
    }
    const std::int64_t peakKiB = StatusKiB("VmHWM:");
    fs::remove_all(work);

    const double ratio = reference / ours;
    const double growthMiB = static_cast<double>(peakKiB - baselineKiB) / 1024.0;
    std::printf("ours:      %8.1f MB/s\n", mb / ours);
    std::printf("reference: %8.1f MB/s\n", mb / reference);
    std::printf("ratio:     %8.3f (needs >= 0.9) %s\n", ratio, ratio >= 0.9 ? "ok" : "TOO SLOW");
    std::printf("peak memory above baseline: %.2f MiB (needs <= 8) %s\n", growthMiB,
                growthMiB <= 8.0 ? "ok" : "TOO MUCH");
    if (!ok)
        std::printf("an extraction FAILED\n");
    return ok && ratio >= 0.9 && growthMiB <= 8.0 ? 0 : 1;
}
