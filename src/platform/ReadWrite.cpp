#include "platform/ReadWrite.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vornel::platform {

namespace {

// Calls `step(done)` until `size` bytes are done, the call fails, or it does nothing.
template <typename Step> IoResult Repeat(std::size_t size, const Step& step) {
    IoResult result;
    while (result.bytes < size) {
        const ssize_t n = step(result.bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result.error = errno;
        if (n <= 0)
            break;
        result.bytes += static_cast<std::size_t>(n);
    }
    return result;
}

} // namespace

IoResult WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    return Repeat(size, [&](std::size_t done) { return ::write(fd, bytes + done, size - done); });
}

IoResult WriteAllAt(int fd, std::uint64_t offset, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    return Repeat(size, [&](std::size_t done) {
        return ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    });
}

std::int64_t ReadFullyAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes) {
    const IoResult read = Repeat(bytes.size(), [&](std::size_t done) {
        return ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    });
    if (read.error != 0) {
        errno = read.error;
        return -1;
    }
    return static_cast<std::int64_t>(read.bytes);
}

int ReadAll(int fd, std::string& text) {
    char buffer[65536];
    for (;;) {
        const IoResult read = Repeat(1, [&](std::size_t) { return ::read(fd, buffer, sizeof buffer); });
        if (read.error != 0 || read.bytes == 0)
            return read.error;
        text.append(buffer, read.bytes);
    }
}

int ReadWholeFile(const std::string& path, std::string& text) {
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid())
        return errno;
    return ReadAll(file.Get(), text);
}

} // namespace vornel::platform
