#include "PackageSources.h"

#include "package/u_Package.h"
#include "platform/Files.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <sys/stat.h>

namespace vornel::mkpackage {

namespace fs = std::filesystem;

std::uint32_t AttributesOf(const std::string& path) {
    struct stat st {};
    std::uint32_t attributes = package::kAttrArchive;
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0)
        attributes |= package::kAttrReadOnly;
    return attributes;
}

std::vector<SourceFile> CollectSources(const std::string& folder, const std::vector<SourceFile>& extra) {
    std::map<std::string, SourceFile> byName; // ordered by name for "the rest"
    auto add = [&](SourceFile file) {
        if (!byName.emplace(file.Name, file).second)
            throw std::runtime_error("two files would be stored as \"" + file.Name + "\"");
    };
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (!item.is_regular_file())
            continue;
        std::string name = fs::relative(item.path(), folder).generic_string();
        std::replace(name.begin(), name.end(), '/', '\\');
        add({name, item.path().string(), AttributesOf(item.path().string())});
    }
    for (const SourceFile& file : extra)
        add(file);

    std::vector<SourceFile> ordered;
    std::set<std::string> taken;
    const fs::path listPath = fs::path(folder) / "filelist";
    if (platform::FileExists(listPath.string())) {
        for (const std::string& line : platform::ReadTextLines(listPath.string())) {
            auto found = byName.find(line);
            if (found == byName.end())
                throw std::runtime_error("filelist names \"" + line + "\", which is not in " + folder);
            if (taken.insert(line).second)
                ordered.push_back(found->second);
        }
    }
    for (const auto& [name, file] : byName)
        if (!taken.contains(name))
            ordered.push_back(file);
    return ordered;
}

} // namespace vornel::mkpackage
