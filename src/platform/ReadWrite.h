#pragma once
// Reading and writing whole buffers and files through descriptors: interrupted calls are
// repeated, short reads and writes carried on, and a failure reported with its errno.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vornel::platform {

// How much of a read or a write was done, and why it stopped short.
struct IoResult {
    std::size_t bytes = 0;
    int error = 0; // errno of the failed call; 0 when a read met the end or a write took nothing
};

// Writes all `size` bytes at the descriptor's position, or at `offset`.
IoResult WriteAll(int fd, const void* data, std::size_t size);
IoResult WriteAllAt(int fd, std::uint64_t offset, const void* data, std::size_t size);

// Reads from `offset` of the open file `fd` until `bytes` is full or the file ends. Returns how
// many bytes were read, or -1 with errno set.
std::int64_t ReadFullyAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes);

// Appends what `fd` holds from its position to its end to `text`; 0, or the failed read's errno.
int ReadAll(int fd, std::string& text);

// A whole file into `text`; 0, or the errno of the failed open or read.
int ReadWholeFile(const std::string& path, std::string& text);

} // namespace vornel::platform
