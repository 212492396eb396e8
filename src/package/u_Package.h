#pragma once
// The package file Data.Vn: its records, the index reader and the extraction into a folder.
//
// Layout (little-endian, no padding): a 23-byte header, then FileCount entries, each a 288-byte
// entry header followed at once by PackedSize bytes of one zlib stream. Entry names are stored as
// code page 936 text with "\" between folder levels; every name this module hands out is UTF-8
// and keeps its "\" (it becomes "/" only when a path on disk is built).

#include "failure/Failure.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vornel::package {

// Result codes. 0 or more is success.
inline constexpr std::int32_t kMissingFile = -1;   // no such package file, or shorter than 23 bytes
inline constexpr std::int32_t kCancelled = -100;   // the progress handler set Cancel
inline constexpr std::int32_t kBadMagic = -101;    // the header does not begin with "FD"
inline constexpr std::int32_t kBadVersion = -102;  // Version is not 1
inline constexpr std::int32_t kBadDataSize = -103; // DataSize is not the file length minus 23
// An extracted file's length differs from FileSize, or its stream goes on past FileSize bytes or
// lacks its end (the check value): a packed file is never cut or taken unchecked.
inline constexpr std::int32_t kSizeMismatch = -201;
// An entry header that cannot be trusted: its Marker is not 0x7FFFFFFF, a size is negative, the
// header or its data runs past the end of the file, or FileCount is negative or larger than the
// file can hold (then Entries is left unchanged and nothing is allocated).
inline constexpr std::int32_t kBadEntry = -202;
// Less free space than the entries take (their sizes in whole allocation units of the
// destination's file system, and a unit per folder; or the header's TotalFileSize, if larger), or
// the destination filled up while writing; the partial file stays.
inline constexpr std::int32_t kNoSpace = -203;
// An entry name that must not be extracted: not code page 936 text (from ReadFileList), or empty,
// absolute, holding a drive or ":", a ".." level, a control character, or ending in "\" (from the
// extractions, before anything is written).
inline constexpr std::int32_t kBadName = -204;

inline constexpr std::int32_t kEntryMarker = 0x7FFFFFFF;
inline constexpr int kHeaderSize = 23;
inline constexpr int kEntryHeaderSize = 288;
inline constexpr std::int32_t kChunkSize = 0x80000;   // output bytes per chunk (and per report)
inline constexpr std::size_t kInputBlockSize = 65536; // package bytes per read of the inflater

// Windows attribute flags as stored; only read-only has a meaning here (it clears the write bits).
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrArchive = 0x20;

struct TPackageHeader {
    std::array<char, 2> Magic{};
    std::uint8_t Version = 0;
    std::int32_t FileCount = 0;
    std::int64_t TotalFileSize = 0; // sum of the entries' FileSize; read only by the free-space check
    std::int64_t DataSize = 0;      // file length minus 23
};

struct TPackedFileInfo {
    std::string FileName; // UTF-8, "\" between folder levels
    std::int32_t FileSize = 0;
    std::int32_t PackedSize = 0;
    std::uint32_t Attributes = 0;
    std::array<std::uint8_t, 16> Reserved{};
    std::int32_t Marker = 0;
    std::int64_t DataPos = 0; // absolute offset of the entry's compressed data
};

using TPackedFileInfoArr = std::vector<TPackedFileInfo>;

// Before each entry of ExtractAll: (stored name, 0, FileSize, index, &header, cancel).
// After each chunk: (full output path, bytes written so far, FileSize, -1, nullptr, cancel).
// Setting Cancel to true stops the extraction with kCancelled.
using TPackageProgressEvent =
    std::function<void(const std::string& FileName, std::int32_t Position, std::int32_t Size,
                       std::int32_t Index, const TPackageHeader* Header, bool& Cancel)>;

// Damaged compressed data in the entry `entry` (of `packageFile`, when known); `reason` is
// zlib's.
class ECompressionError : public failure::Failure {
  public:
    ECompressionError(const std::string& entry, const std::string& reason, const std::string& packageFile);
};

// The inflater could not be started for `entry`.
class EDecompressionError : public failure::Failure {
  public:
    EDecompressionError(const std::string& entry, const std::string& reason);
};

// Bytes available to the caller on the file system that holds `path` (or its nearest existing
// parent), or -1 when that cannot be told.
std::int64_t AvailableBytes(const std::string& path);

// The unit that file system gives files their space in (1 when it cannot be told).
std::int64_t AllocationUnit(const std::string& path);

// Reads and extracts packages. A package file that exists but cannot be opened raises
// platform::EFOpenError; an output file that cannot be created raises platform::EFCreateError.
// Destination folders are paths of this system; a "\" in them is taken as a folder separator.
// Nothing is ever written through a symbolic link below the destination, and an existing file
// (a read-only one too) is replaced by a new file rather than written into. Extracted files get
// no execute permission. Entry data that ends before FileSize bytes ends the copy: the copy
// returns the shorter length, which ExtractAll turns into kSizeMismatch. Data that goes on past
// FileSize bytes, or stops before its check value, gives kSizeMismatch from every extraction.
class TFDPackage {
  public:
    TPackageProgressEvent OnProgress;
    // The free-space queries of ExtractAll; replaceable so the check can be tested.
    std::function<std::int64_t(const std::string& DestDir)> FreeSpace = AvailableBytes;
    std::function<std::int64_t(const std::string& DestDir)> SpaceUnit = AllocationUnit;

    // Lists the package's entries without inflating anything. Result: FileCount, or a negative
    // code. Header is unchanged on kMissingFile; Entries is unchanged unless the result is
    // FileCount, kBadEntry or kBadName after sizing (then the records from the bad one on are zero).
    static std::int32_t ReadFileList(const std::string& PackageFile, TPackedFileInfoArr& Entries,
                                     TPackageHeader& Header);

    // Extracts every entry below DestDir (created when missing, not for an empty package). Result:
    // FileCount or a negative code; names are all checked before anything is written. Chunk
    // reports name the output file as a path of this system ("/" separators).
    std::int32_t ExtractAll(const std::string& PackageFile, const std::string& DestDir);

    // Extracts one entry as ReadFileList returned it. Result: bytes written, kMissingFile (also
    // when DataPos lies outside the file), kCancelled, kBadEntry (a negative size), kBadName,
    // kSizeMismatch or kNoSpace (the destination filled up).
    std::int32_t ExtractFile(const std::string& PackageFile, const std::string& DestDir,
                             TPackedFileInfo Entry);

    // Inflates one entry from Source (a descriptor positioned at its compressed data) into the
    // file FileName, creating its folders. Result: bytes written, kCancelled, kSizeMismatch,
    // kNoSpace, or kBadEntry for a negative Size (nothing created). It reads ahead of the entry's
    // data in blocks.
    std::int32_t ExtractStream(const std::string& FileName, int Source, std::int32_t Size);

    // What a negative result of the last extraction stands for, as a failure that names the
    // package, the entry to blame (when one is) and, for kNoSpace, the sizes.
    failure::Failure DescribeFailure(std::int32_t result, const std::string& PackageFile,
                                     const std::string& DestDir) const;

  private:
    // Where the last extraction stopped: the entry, and the space it found short.
    struct Stop {
        std::string entry;
        std::int64_t needed = 0;
        std::int64_t available = 0;
    };
    std::int32_t Stopped(std::int32_t result, std::string entry, std::int64_t needed = 0,
                         std::int64_t available = 0);
    Stop stop_;
};

} // namespace vornel::package
