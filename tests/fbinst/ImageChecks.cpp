#include "ImageChecks.h"

#include "ExternalTool.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace vornel::fbinst::testing {

ToolResult RunProgram(const std::vector<std::string>& argv) {
    ToolResult result;
    const ToolRun run = RunTool(argv, {}, [&](std::string_view piece) { result.out.append(piece); });
    result.exitCode = run.exitCode;
    result.err = run.errorText;
    return result;
}

ToolResult RunFbinstExe(const std::vector<std::string>& args) {
    const char* buildDir = std::getenv("VORNEL_BUILD_DIR");
    std::vector<std::string> argv{std::string(buildDir ? buildDir : ".") + "/fbinst.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

std::vector<DumpedPartition> SfdiskDump(const std::string& image) {
    const ToolResult dump = RunProgram({"sfdisk", "--dump", image});
    std::vector<DumpedPartition> partitions;
    const std::regex line(R"((\d+) : start= *(\d+), size= *(\d+), type=([0-9a-f]+)(, bootable)?)");
    std::istringstream lines(dump.out);
    std::string text;
    while (std::getline(lines, text)) {
        std::smatch m;
        if (std::regex_search(text, m, line))
            partitions.push_back({std::stoi(m[1].str().substr(m[1].length() - 1)), std::stoull(m[2]),
                                  std::stoull(m[3]), m[4], m[5].matched});
    }
    return partitions;
}

ToolResult FsckFat(const std::string& image, std::uint64_t startSector, std::uint64_t sectors) {
    const std::string copy = image + ".part";
    WriteWholeFile(copy, ReadBytes(image, startSector * 512, sectors * 512));
    ToolResult result = RunProgram({"fsck.fat", "-n", copy});
    std::filesystem::remove(copy);
    return result;
}

ToolResult Mtype(const std::string& image, std::uint64_t startSector, const std::string& name) {
    return RunProgram({"mtype", "-i", image + "@@" + std::to_string(startSector * 512), "::/" + name});
}

std::string ReadBytes(const std::string& path, std::uint64_t offset, std::uint64_t length) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(length, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(length));
    if (static_cast<std::uint64_t>(in.gcount()) != length)
        throw std::runtime_error("short read of " + path);
    return bytes;
}

std::uint64_t Fingerprint(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    std::uint64_t hash = 14695981039346656037ull;
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i)
            hash =
                (hash ^ static_cast<unsigned char>(buffer[static_cast<std::size_t>(i)])) * 1099511628211ull;
    }
    return hash;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

void MakeSparseImage(const std::string& path, std::uint64_t bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc);
    std::filesystem::resize_file(path, bytes);
}

FakeSdcTree::FakeSdcTree(const std::string& root, bool removable) {
    sources.sysfsRoot = root + "/sys";
    sources.devRoot = root + "/dev";
    sources.udevDataRoot = root + "/udev";
    const std::filesystem::path block = std::filesystem::path(sources.sysfsRoot) / "block/sdc";
    std::filesystem::create_directories(block);
    std::filesystem::create_directories(sources.devRoot);
    std::filesystem::create_directories(sources.udevDataRoot);
    WriteWholeFile((block / "removable").string(), removable ? "1\n" : "0\n");
    WriteWholeFile((block / "size").string(), "131072\n");
    WriteWholeFile((block / "dev").string(), "8:32\n");
    node = sources.devRoot + "/sdc";
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fbinst-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a scratch folder");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

} // namespace vornel::fbinst::testing
