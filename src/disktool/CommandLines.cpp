#include "disktool/CommandLines.h"

namespace vornel::disktool {

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

} // namespace

std::string ToolPrefix(const std::string& workFolder, char letter) {
    return workFolder + kToolName + " " + std::string(1, letter) + ": ";
}

std::string FormatLine(const std::string& prefix, bool zipMode, std::int64_t bootAreaMiB,
                       const std::vector<std::int64_t>& imagePartitionsMiB) {
    std::string line =
        prefix + " format -f -a " + (zipMode ? " -z" : "") + " -p 8m -e " + std::to_string(bootAreaMiB) + "m";
    for (const std::int64_t mib : imagePartitionsMiB)
        line += " -i " + std::to_string(mib) + "m";
    return line;
}

std::vector<std::string> StartMenuLines(const std::string& prefix) {
    const std::string addMenu = prefix + "add-menu -s " + Quoted("fb.cfg") + " ";
    return {addMenu + Quoted("default 0"), addMenu + Quoted("timeout 0"),
            addMenu + "\"menu F1 grldr \"grldr\""};
}

std::string AddLine(const std::string& prefix, const std::string& nameOnStick, const std::string& source) {
    return prefix + "add " + Quoted(nameOnStick) + " " + Quoted(source);
}

std::string AddImageLine(const std::string& prefix, int slot, const std::string& source) {
    return prefix + "add-image " + std::to_string(slot) + " " + Quoted(source);
}

std::string RestoreLine(const std::string& prefix) {
    return prefix + "format -f -r";
}

} // namespace vornel::disktool
