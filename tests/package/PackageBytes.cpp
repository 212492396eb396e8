#include "package/PackageBytes.h"

#include <fstream>
#include <stdexcept>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

namespace vornel::test {

namespace fs = std::filesystem;

std::string Deflate(const std::string& data) {
    uLongf size = ::compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (::compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                    static_cast<uLong>(data.size()), 6) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

void PutInt32(std::string& bytes, std::size_t offset, std::int32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i));
}

void PutInt64(std::string& bytes, std::size_t offset, std::int64_t value) {
    for (int i = 0; i < 8; ++i)
        bytes[offset + i] = static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i));
}

std::string BuildPackage(const std::vector<RawEntry>& entries) {
    std::string bytes(kFirstEntryAt, '\0');
    bytes[0] = 'F';
    bytes[1] = 'D';
    bytes[2] = 1;
    std::int64_t total = 0;
    for (const RawEntry& entry : entries) {
        const std::string packed = entry.packed.empty() ? Deflate(entry.content) : entry.packed;
        std::string header(288, '\0');
        header[0] = static_cast<char>(entry.storedName.size());
        header.replace(1, entry.storedName.size(), entry.storedName);
        PutInt32(header, kFileSizeAt, static_cast<std::int32_t>(entry.content.size()));
        PutInt32(header, kPackedSizeAt, static_cast<std::int32_t>(packed.size()));
        PutInt32(header, 264, static_cast<std::int32_t>(entry.attributes));
        PutInt32(header, kMarkerAt, entry.marker);
        bytes += header + packed;
        total += static_cast<std::int64_t>(entry.content.size());
    }
    PutInt32(bytes, kFileCountAt, static_cast<std::int32_t>(entries.size()));
    PutInt64(bytes, kTotalSizeAt, total);
    PutInt64(bytes, kDataSizeAt, static_cast<std::int64_t>(bytes.size()) - 23);
    return bytes;
}

std::string Noise(std::size_t size, std::uint32_t seed) {
    std::string out(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& c : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state);
    }
    return out;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir(bool inMemory) {
    const fs::path base =
        inMemory && ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "vornel-package-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

} // namespace vornel::test
