#include "package/EntryPath.h"
#include "package/Inflater.h"
#include "package/PackageFile.h"
#include "package/u_Package.h"

#include "platform/Files.h"
#include "platform/ReadWrite.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vornel::package {

namespace {

// Where an entry's bytes come from: the open package, positioned at the data, and the names its
// errors give.
struct EntrySource {
    int descriptor;
    std::string entry;
    std::string packageFile;
};

// Inflates `size` bytes from `source` into the open `output`, one chunk at a time, reporting
// after each chunk. Returns the output file's length, kCancelled, kNoSpace when the destination
// filled up, or kSizeMismatch when the stream goes on past `size` bytes or lacks its end.
std::int32_t CopyEntry(int output, const std::string& displayPath, const EntrySource& source,
                       std::int32_t size, const TPackageProgressEvent& onProgress) {
    bool cancel = false;
    Inflater inflater(source.descriptor, source.entry, source.packageFile);
    std::vector<unsigned char> chunk(static_cast<size_t>(std::min(size, kChunkSize)));
    std::int32_t remaining = size;
    std::int32_t written = 0;
    do {
        const auto wanted = static_cast<size_t>(std::min(remaining, kChunkSize));
        const size_t produced = inflater.Produce(chunk.data(), wanted);
        if (produced == 0 && wanted > 0)
            break; // the stream or the package ended early: the length check catches it
        const platform::IoResult result = platform::WriteAll(output, chunk.data(), produced);
        if (result.bytes != produced && (result.error == ENOSPC || result.error == EDQUOT))
            return kNoSpace;
        // After another failed write the copy ends; the length then falls short.
        if (result.bytes != produced)
            break;
        remaining -= static_cast<std::int32_t>(produced);
        written += static_cast<std::int32_t>(produced);
        if (onProgress)
            onProgress(displayPath, written, size, -1, nullptr, cancel);
        if (cancel)
            return kCancelled;
    } while (remaining > 0);
    // A stream longer than its recorded size would be cut silently, one without its end was never
    // checked: neither is the file that was packed.
    if (remaining == 0 && !inflater.EndsHere())
        return kSizeMismatch;

    struct stat st {};
    if (::fstat(output, &st) != 0)
        return written;
    return static_cast<std::int32_t>(st.st_size);
}

// Read-only is the one stored attribute with a meaning here.
void ApplyAttributes(int output, std::uint32_t attributes) {
    struct stat st {};
    if ((attributes & kAttrReadOnly) != 0 && ::fstat(output, &st) == 0)
        ::fchmod(output, st.st_mode & 07555); // failures are ignored, as on every platform
}

// The destination as a path on disk, and the form paths are reported in (no doubled "/").
std::string DestinationRoot(const std::string& destDir) {
    std::string root = NativePath(destDir);
    if (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

std::string DisplayPath(const std::string& root, const std::string& name) {
    return root.empty() ? NativePath(name) : root + "/" + NativePath(name);
}

// The space the entries take on a file system that gives space in `unit`s: each file in whole
// units, and a unit for each folder they are put in.
std::int64_t SpaceTaken(const TPackedFileInfoArr& entries,
                        const std::vector<std::vector<std::string>>& levels, std::int64_t unit) {
    std::int64_t taken = 0;
    for (const TPackedFileInfo& entry : entries)
        taken += (entry.FileSize + unit - 1) / unit * unit;
    std::vector<std::string> folders;
    for (const auto& entryLevels : levels) {
        std::string folder;
        for (size_t i = 0; i + 1 < entryLevels.size(); ++i) {
            folder += entryLevels[i] + "/";
            folders.push_back(folder);
        }
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    return taken + static_cast<std::int64_t>(folders.size()) * unit;
}

} // namespace

std::int32_t TFDPackage::ExtractStream(const std::string& FileName, int Source, std::int32_t Size) {
    if (Size < 0)
        return kBadEntry;
    const std::string path = NativePath(FileName);
    const platform::UniqueFd output = CreateOutputAt(path);
    return CopyEntry(output.Get(), path, {Source, FileName, {}}, Size, OnProgress);
}

std::int32_t TFDPackage::ExtractAll(const std::string& PackageFile, const std::string& DestDir) {
    stop_ = {};
    if (!platform::FileExists(PackageFile))
        return kMissingFile;
    TPackedFileInfoArr entries;
    TPackageHeader header;
    const std::int32_t listed = ReadFileList(PackageFile, entries, header);
    if (listed < 0)
        return listed;
    std::vector<std::vector<std::string>> levels;
    levels.reserve(entries.size());
    for (const TPackedFileInfo& entry : entries) {
        auto entryLevels = EntryLevels(entry.FileName);
        if (!entryLevels)
            return Stopped(kBadName, entry.FileName);
        levels.push_back(std::move(*entryLevels));
    }
    // The entries' own sizes count, in the space the file system really gives them: a header
    // that understates the total, or many small files, must not let the extraction fill the
    // destination before it is refused.
    const std::string root = DestinationRoot(DestDir);
    const std::int64_t needed = std::max(
        SpaceTaken(entries, levels, std::max<std::int64_t>(SpaceUnit(root), 1)), header.TotalFileSize);
    if (const std::int64_t available = FreeSpace(root); available < needed)
        return Stopped(kNoSpace, {}, needed, available);

    const package::PackageFile file(PackageFile);
    bool cancel = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        const TPackedFileInfo& entry = entries[i];
        if (OnProgress)
            OnProgress(entry.FileName, 0, entry.FileSize, static_cast<std::int32_t>(i), &header, cancel);
        if (cancel)
            return kCancelled;
        if (::lseek(file.Descriptor(), static_cast<off_t>(entry.DataPos), SEEK_SET) < 0)
            return Stopped(kBadEntry, entry.FileName);
        const std::string path = DisplayPath(root, entry.FileName);
        const platform::UniqueFd output = CreateOutputBelow(root, levels[i], path);
        const std::int32_t copied = CopyEntry(
            output.Get(), path, {file.Descriptor(), entry.FileName, PackageFile}, entry.FileSize, OnProgress);
        if (copied < 0)
            return Stopped(copied, entry.FileName);
        if (copied != entry.FileSize)
            return Stopped(kSizeMismatch, entry.FileName);
        ApplyAttributes(output.Get(), entry.Attributes);
    }
    return header.FileCount;
}

std::int32_t TFDPackage::ExtractFile(const std::string& PackageFile, const std::string& DestDir,
                                     TPackedFileInfo Entry) {
    stop_ = {Entry.FileName};
    if (!platform::FileExists(PackageFile))
        return kMissingFile;
    if (Entry.FileSize < 0 || Entry.PackedSize < 0)
        return kBadEntry;
    const auto levels = EntryLevels(Entry.FileName);
    if (!levels)
        return kBadName;
    const package::PackageFile file(PackageFile);
    if (Entry.DataPos < 0 || Entry.DataPos > file.Length() ||
        ::lseek(file.Descriptor(), static_cast<off_t>(Entry.DataPos), SEEK_SET) < 0)
        return kMissingFile;
    const std::string root = DestinationRoot(DestDir);
    const std::string path = DisplayPath(root, Entry.FileName);
    const platform::UniqueFd output = CreateOutputBelow(root, *levels, path);
    const std::int32_t copied = CopyEntry(
        output.Get(), path, {file.Descriptor(), Entry.FileName, PackageFile}, Entry.FileSize, OnProgress);
    ApplyAttributes(output.Get(), Entry.Attributes); // after a cancel too
    return copied;
}

} // namespace vornel::package
