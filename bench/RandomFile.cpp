#include "RandomFile.h"

#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace vornel::bench {

void WriteRandomFile(const std::string& path, std::uint64_t bytes) {
    constexpr std::size_t kMiB = 1 << 20;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(kMiB / 8);
    bool written = true;
    for (std::uint64_t done = 0; done < bytes && written; done += kMiB) {
        for (auto& word : block)
            word = random();
        written = write(fd, block.data(), kMiB) == static_cast<ssize_t>(kMiB);
    }
    const bool flushed = written && fsync(fd) == 0;
    close(fd);
    if (!flushed)
        throw std::runtime_error("cannot write " + path);
}

} // namespace vornel::bench
