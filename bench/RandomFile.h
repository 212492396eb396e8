#pragma once
// The benchmarks' source files: random bytes (so no layer can compress them), already flushed.

#include <cstdint>
#include <string>

namespace vornel::bench {

// Writes `bytes` (a whole number of MiB) of random bytes to `path` and flushes them, so their
// writeback does not slow down whichever side of a comparison runs first. Throws on failure.
void WriteRandomFile(const std::string& path, std::uint64_t bytes);

} // namespace vornel::bench
