#include "PackageWriter.h"

#include "package/Cp936.h"
#include "package/EntryPath.h"
#include "package/u_Package.h"
#include "platform/Files.h"
#include "platform/ReadWrite.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace vornel::mkpackage {

namespace {

constexpr std::size_t kBlock = 1 << 16;
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

void StoreLE(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The stored form of a name: code page 936, at most 255 bytes, and one the extraction accepts.
std::string StoredName(const std::string& name) {
    if (name.find('/') != std::string::npos || !package::EntryLevels(name))
        throw std::runtime_error("entry name \"" + name + "\" is not a relative file path");
    auto stored = package::Utf8ToCp936(name);
    if (!stored)
        throw std::runtime_error("entry name \"" + name + "\" has no code page 936 form");
    if (stored->size() > 255)
        throw std::runtime_error("entry name \"" + name + "\" is longer than 255 bytes");
    return *stored;
}

struct Deflater {
    z_stream stream{};
    explicit Deflater(int level) {
        if (::deflateInit(&stream, level) != Z_OK)
            throw std::runtime_error("zlib cannot start compressing");
    }
    ~Deflater() { ::deflateEnd(&stream); }
};

} // namespace

PackageWriter::PackageWriter(std::string outPath, int level)
    : outPath_(std::move(outPath)), partPath_(outPath_ + ".part"), level_(level) {
    fd_.Reset(::open(partPath_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd_.Valid())
        throw platform::EFCreateError(partPath_, errno);
}

PackageWriter::~PackageWriter() {
    fd_.Reset();
    if (!finished_)
        ::unlink(partPath_.c_str());
}

void PackageWriter::WriteAt(std::int64_t offset, const void* data, std::size_t size) {
    const platform::IoResult written =
        platform::WriteAllAt(fd_.Get(), static_cast<std::uint64_t>(offset), data, size);
    if (written.bytes != size)
        throw std::runtime_error("cannot write \"" + partPath_ +
                                 "\": " + std::strerror(written.error != 0 ? written.error : EIO));
}

void PackageWriter::AddStream(const std::string& name, const Reader& read, std::uint32_t attributes) {
    const std::string stored = StoredName(name);
    const std::int64_t headerPos = end_;
    const std::int64_t dataPos = headerPos + package::kEntryHeaderSize;
    std::int64_t fileSize = 0;
    std::int64_t packedSize = 0;

    Deflater deflater(level_);
    std::vector<unsigned char> in(kBlock);
    std::vector<unsigned char> out(kBlock);
    int flush = Z_NO_FLUSH;
    do {
        const std::size_t got = read(in.data(), in.size());
        fileSize += static_cast<std::int64_t>(got);
        flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        deflater.stream.next_in = in.data();
        deflater.stream.avail_in = static_cast<uInt>(got);
        do {
            deflater.stream.next_out = out.data();
            deflater.stream.avail_out = static_cast<uInt>(out.size());
            ::deflate(&deflater.stream, flush);
            const std::size_t produced = out.size() - deflater.stream.avail_out;
            WriteAt(dataPos + packedSize, out.data(), produced);
            packedSize += static_cast<std::int64_t>(produced);
        } while (deflater.stream.avail_out == 0);
        if (fileSize > kInt32Max || packedSize > kInt32Max)
            throw std::runtime_error("entry \"" + name + "\" is larger than 2147483647 bytes");
    } while (flush != Z_FINISH);

    unsigned char header[package::kEntryHeaderSize] = {};
    header[0] = static_cast<unsigned char>(stored.size());
    std::memcpy(header + 1, stored.data(), stored.size());
    StoreLE(header + 256, static_cast<std::uint64_t>(fileSize), 4);
    StoreLE(header + 260, static_cast<std::uint64_t>(packedSize), 4);
    StoreLE(header + 264, attributes, 4);
    StoreLE(header + 284, static_cast<std::uint32_t>(package::kEntryMarker), 4);
    WriteAt(headerPos, header, sizeof header);

    end_ = dataPos + packedSize;
    totalSize_ += fileSize;
    ++count_;
}

void PackageWriter::AddFile(const std::string& name, const std::string& sourcePath,
                            std::uint32_t attributes) {
    const platform::UniqueFd source(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.Valid())
        throw platform::EFOpenError(sourcePath, errno);
    AddStream(
        name,
        [&](unsigned char* buffer, std::size_t size) -> std::size_t {
            for (;;) {
                ssize_t n = ::read(source.Get(), buffer, size);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    throw std::runtime_error("cannot read \"" + sourcePath + "\": " + std::strerror(errno));
                return static_cast<std::size_t>(n);
            }
        },
        attributes);
}

void PackageWriter::AddBytes(const std::string& name, std::string_view bytes, std::uint32_t attributes) {
    std::size_t offset = 0;
    AddStream(
        name,
        [&](unsigned char* buffer, std::size_t size) {
            const std::size_t n = std::min(size, bytes.size() - offset);
            std::memcpy(buffer, bytes.data() + offset, n);
            offset += n;
            return n;
        },
        attributes);
}

void PackageWriter::Finish() {
    unsigned char header[package::kHeaderSize] = {'F', 'D', 1};
    StoreLE(header + 3, static_cast<std::uint32_t>(count_), 4);
    StoreLE(header + 7, static_cast<std::uint64_t>(totalSize_), 8);
    StoreLE(header + 15, static_cast<std::uint64_t>(end_ - package::kHeaderSize), 8);
    WriteAt(0, header, sizeof header);
    if (::ftruncate(fd_.Get(), static_cast<off_t>(end_)) != 0 || !fd_.Close()) {
        fd_.Reset();
        throw std::runtime_error("cannot finish \"" + partPath_ + "\": " + std::strerror(errno));
    }
    if (::rename(partPath_.c_str(), outPath_.c_str()) != 0)
        throw platform::EFCreateError(outPath_, errno);
    finished_ = true;
}

} // namespace vornel::mkpackage
