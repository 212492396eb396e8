#pragma once
// The start page's reachability check: a TCP connection to the page's host, bounded in time so
// that start-up never waits longer than the bound, however slow the name lookup is.

#include <chrono>
#include <cstdint>
#include <string>

namespace vornel::app {

// True when a TCP connection to host:port is established within `bound`. The name lookup runs
// on a thread of its own, which is left to finish by itself when the bound passes first.
bool CanConnectTcp(const std::string& host, std::uint16_t port, std::chrono::milliseconds bound);

} // namespace vornel::app
