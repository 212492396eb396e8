#include "drives/DiskSize.h"

namespace vornel::drives {

std::string FormatDiskSize(std::int64_t size) {
    struct Unit {
        std::int64_t bytes;
        const char* name;
    };
    static constexpr Unit kUnits[] = {{1LL << 30, "GB"}, {1LL << 20, "MB"}, {1LL << 10, "KB"}};
    for (const Unit& unit : kUnits) {
        if (size < unit.bytes)
            continue;
        // Integer arithmetic: a double and printf would round 2.125 down to "2.12".
        const std::int64_t whole = size / unit.bytes;
        const std::int64_t rest = size % unit.bytes;
        const std::int64_t hundredths = whole * 100 + (rest * 200 + unit.bytes) / (2 * unit.bytes);
        const std::int64_t fraction = hundredths % 100;
        return std::to_string(hundredths / 100) + "." + (fraction < 10 ? "0" : "") +
               std::to_string(fraction) + unit.name;
    }
    return {};
}

} // namespace vornel::drives
