#pragma once
// Runs a shell command for a test and gives its standard output and whether it exited 0.

#include <cstdio>
#include <string>
#include <utility>

namespace vornel::fbinst::loader::test {

inline std::pair<std::string, bool> RunShell(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {"", false};
    }
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    return {output, pclose(pipe) == 0};
}

} // namespace vornel::fbinst::loader::test
