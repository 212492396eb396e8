#include "platform/ProgramLookup.h"

#include <cstdlib>
#include <unistd.h>

namespace vornel::platform {

std::optional<std::string> FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    if (name.empty())
        return std::nullopt;
    const char* path = std::getenv("PATH");
    const std::string folders = std::string(path ? path : "") + ":/usr/sbin:/sbin:/usr/bin:/bin";
    for (std::size_t begin = 0; begin < folders.size();) {
        std::size_t end = folders.find(':', begin);
        if (end == std::string::npos)
            end = folders.size();
        const std::string candidate = folders.substr(begin, end - begin) + "/" + name;
        if (end > begin && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return std::nullopt;
}

} // namespace vornel::platform
