// mkpackage: makes, lists and extracts package files.
//   mkpackage create OUT DIR [--add NAME=PATH]...
//   mkpackage list PKG
//   mkpackage extract PKG DIR

#include "PackageSources.h"
#include "PackageWriter.h"

#include "package/u_Package.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace vornel;

constexpr const char* kUsage = "usage: mkpackage create OUT DIR [--add NAME=PATH]...\n"
                               "       mkpackage list PKG\n"
                               "       mkpackage extract PKG DIR\n";

std::string ResultText(std::int32_t result) {
    switch (result) {
    case package::kMissingFile:
        return "the package file does not exist or is shorter than 23 bytes";
    case package::kCancelled:
        return "cancelled";
    case package::kBadMagic:
        return "not a package: the header does not begin with \"FD\"";
    case package::kBadVersion:
        return "unknown package version";
    case package::kBadDataSize:
        return "the header's data size does not match the file length";
    case package::kSizeMismatch:
        return "an extracted file does not have its recorded length";
    case package::kBadEntry:
        return "an entry header is damaged";
    case package::kNoSpace:
        return "not enough free space at the destination";
    case package::kBadName:
        return "an entry name leaves the destination or is not code page 936 text";
    default:
        return "failed";
    }
}

// Prints the result line; a negative result also gets its meaning on stderr, with the entry to
// blame when there is one.
int Report(std::int32_t result, const std::string& entry = {}) {
    std::cout << "result: " << result << '\n';
    if (result >= 0)
        return 0;
    std::cerr << "mkpackage: " << ResultText(result) << (entry.empty() ? "" : " (entry \"" + entry + "\")")
              << '\n';
    return 1;
}

int Create(const std::vector<std::string>& args) {
    if (args.size() < 2 || args.size() % 2 != 0)
        throw std::invalid_argument(kUsage);
    std::vector<mkpackage::SourceFile> extra;
    for (size_t i = 2; i < args.size(); i += 2) {
        const size_t equals = args[i + 1].find('=');
        if (args[i] != "--add" || equals == std::string::npos || equals == 0)
            throw std::invalid_argument(kUsage);
        std::string path = args[i + 1].substr(equals + 1);
        extra.push_back({args[i + 1].substr(0, equals), path, mkpackage::AttributesOf(path)});
    }
    mkpackage::PackageWriter writer(args[0]);
    for (const auto& file : mkpackage::CollectSources(args[1], extra))
        writer.AddFile(file.Name, file.Path, file.Attributes);
    writer.Finish();
    return 0;
}

int List(const std::vector<std::string>& args) {
    if (args.size() != 1)
        throw std::invalid_argument(kUsage);
    package::TPackedFileInfoArr entries;
    package::TPackageHeader header;
    const std::int32_t result = package::TFDPackage::ReadFileList(args[0], entries, header);
    const int status = Report(result);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        std::cout << i << '\t' << e.FileName << '\t' << e.FileSize << '\t' << e.PackedSize << '\t'
                  << e.Attributes << '\t' << e.DataPos << '\n';
    }
    return status;
}

int Extract(const std::vector<std::string>& args) {
    if (args.size() != 2)
        throw std::invalid_argument(kUsage);
    package::TFDPackage package;
    const std::int32_t result = package.ExtractAll(args[0], args[1]);
    if (result >= 0)
        return Report(result);
    const failure::Failure failure = package.DescribeFailure(result, args[0], args[1]);
    return Report(result, failure.kind == failure::Kind::PackageDamaged ? failure.subject : "");
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    const std::string verb = argc >= 2 ? argv[1] : "";
    try {
        if (verb == "create")
            return Create(args);
        if (verb == "list")
            return List(args);
        if (verb == "extract")
            return Extract(args);
        std::cerr << kUsage;
        return 2;
    } catch (const std::invalid_argument& usage) {
        std::cerr << usage.what();
        return 2;
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "error: " << error.what() << '\n';
        return 1;
    }
}
