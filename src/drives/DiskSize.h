#pragma once
// The size text of the drive list.

#include <cstdint>
#include <string>

namespace vornel::drives {

// "7.45GB", "953.67MB", "1.00KB": the largest of GB, MB and KB (powers of two) that gives at
// least 1, with exactly two decimals rounded half up on the exact value; empty below 1024
// bytes; GB is the largest unit ("3072.00GB").
std::string FormatDiskSize(std::int64_t size);

} // namespace vornel::drives
