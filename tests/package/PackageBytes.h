#pragma once
// Package files built byte by byte for the tests, so that every field can be set to any value,
// and a private temporary folder for each test.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vornel::test {

struct RawEntry {
    RawEntry(std::string storedName, std::string content, std::uint32_t attributes = 0x20,
             std::string packed = {}, std::int32_t marker = 0x7FFFFFFF)
        : storedName(std::move(storedName)), content(std::move(content)), attributes(attributes),
          packed(std::move(packed)), marker(marker) {}
    std::string storedName; // bytes as stored (code page 936, "\" separators)
    std::string content;    // what the entry inflates to
    std::uint32_t attributes;
    std::string packed; // the compressed data; empty means the zlib stream of `content`
    std::int32_t marker;
};

std::string Deflate(const std::string& data);

// A header and the entries, every size consistent with what follows.
std::string BuildPackage(const std::vector<RawEntry>& entries);

void PutInt32(std::string& bytes, std::size_t offset, std::int32_t value);
void PutInt64(std::string& bytes, std::size_t offset, std::int64_t value);

// Bytes that do not compress: a fixed pseudo-random sequence.
std::string Noise(std::size_t size, std::uint32_t seed = 1);

std::string ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::string& bytes);

// A fresh folder removed with everything in it at the end. `inMemory` puts it on /dev/shm when
// that is available, for tests that create many thousands of files.
struct TempDir {
    std::filesystem::path path;
    explicit TempDir(bool inMemory = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

// Offsets inside a package file.
inline constexpr std::size_t kFileCountAt = 3;
inline constexpr std::size_t kTotalSizeAt = 7;
inline constexpr std::size_t kDataSizeAt = 15;
inline constexpr std::size_t kFirstEntryAt = 23;
inline constexpr std::size_t kFileSizeAt = 256; // from the start of an entry header
inline constexpr std::size_t kPackedSizeAt = 260;
inline constexpr std::size_t kMarkerAt = 284;

} // namespace vornel::test
