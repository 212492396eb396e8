// libFuzzer entry: any bytes as a package file, listed and extracted into a fresh folder. Only
// the documented failures may come out, and nothing may appear beside the destination.

#include "package/u_Package.h"
#include "platform/Files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vornel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path base = [] {
        std::string pattern = (fs::temp_directory_path() / "vornel-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return fs::path(pattern);
    }();
    const fs::path file = base / "Data.Vn";
    const fs::path dest = base / "work";
    fs::remove_all(dest);
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    package::TFDPackage extractor;
    extractor.FreeSpace = [](const std::string&) { return std::int64_t{1} << 30; };
    try {
        extractor.ExtractAll(file.string(), dest.string());
    } catch (const package::ECompressionError&) {
    } catch (const platform::EFCreateError&) {
    }
    for (const auto& item : fs::directory_iterator(base))
        if (item.path() != file && item.path() != dest)
            std::abort();
    return 0;
}
