#include "package/Cp936.h"
#include "package/PackageFile.h"
#include "package/u_Package.h"

#include "platform/Files.h"
#include "platform/LittleEndian.h"

#include <cstring>

namespace vornel::package {

namespace {

std::int32_t Int32At(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int32_t>(platform::LoadLittleEndian(bytes, at, 4));
}

std::int64_t Int64At(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int64_t>(platform::LoadLittleEndian(bytes, at, 8));
}

TPackageHeader DecodeHeader(std::span<const std::uint8_t> b) {
    TPackageHeader header;
    header.Magic = {static_cast<char>(b[0]), static_cast<char>(b[1])};
    header.Version = b[2];
    header.FileCount = Int32At(b, 3);
    header.TotalFileSize = Int64At(b, 7);
    header.DataSize = Int64At(b, 15);
    return header;
}

} // namespace

std::int32_t TFDPackage::ReadFileList(const std::string& PackageFile, TPackedFileInfoArr& Entries,
                                      TPackageHeader& Header) {
    if (!platform::FileExists(PackageFile))
        return kMissingFile;
    const package::PackageFile file(PackageFile);
    std::uint8_t headerBytes[kHeaderSize];
    if (file.Length() < kHeaderSize || !file.ReadAt(0, headerBytes, sizeof headerBytes))
        return kMissingFile;
    Header = DecodeHeader(headerBytes);

    // The magic is taken as text that ends early at a zero byte, so "F\0" is no match either.
    if (Header.Magic[0] != 'F' || Header.Magic[1] != 'D')
        return kBadMagic;
    if (Header.Version != 1)
        return kBadVersion;
    const std::int64_t afterHeader = file.Length() - kHeaderSize;
    if (Header.DataSize != afterHeader)
        return kBadDataSize;
    // Every entry takes at least its header, so a count the file cannot hold is refused before
    // the array is sized.
    if (Header.FileCount < 0 || Header.FileCount > afterHeader / kEntryHeaderSize)
        return kBadEntry;

    Entries.assign(static_cast<std::size_t>(Header.FileCount), TPackedFileInfo{});
    std::int64_t position = kHeaderSize;
    for (std::int32_t i = 0; i < Header.FileCount; ++i) {
        std::uint8_t b[kEntryHeaderSize];
        if (!file.ReadAt(position, b, sizeof b))
            return kBadEntry;
        const std::int32_t fileSize = Int32At(b, 256);
        const std::int32_t packedSize = Int32At(b, 260);
        const std::int32_t marker = Int32At(b, 284);
        const std::int64_t dataPos = position + kEntryHeaderSize;
        if (marker != kEntryMarker || fileSize < 0 || packedSize < 0 || dataPos + packedSize > file.Length())
            return kBadEntry;
        auto name = Cp936ToUtf8(std::string_view(reinterpret_cast<const char*>(b + 1), b[0]));
        if (!name)
            return kBadName;

        TPackedFileInfo& entry = Entries[static_cast<std::size_t>(i)];
        entry.FileName = std::move(*name);
        entry.FileSize = fileSize;
        entry.PackedSize = packedSize;
        entry.Attributes = static_cast<std::uint32_t>(platform::LoadLittleEndian(b, 264, 4));
        std::memcpy(entry.Reserved.data(), b + 268, entry.Reserved.size());
        entry.Marker = marker;
        entry.DataPos = dataPos;
        position = dataPos + packedSize;
    }
    return Header.FileCount;
}

} // namespace vornel::package
