#pragma once
// Numbers stored least significant byte first, as the package's headers, partition tables and
// FAT boot sectors hold them: the one reader of them.

#include <cstddef>
#include <cstdint>
#include <span>

namespace vornel::platform {

// The unsigned number of `width` bytes (1 to 8) that begins at `at`.
constexpr std::uint64_t LoadLittleEndian(std::span<const std::uint8_t> bytes, std::size_t at,
                                         std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = value << 8 | bytes[at + i];
    return value;
}

} // namespace vornel::platform
