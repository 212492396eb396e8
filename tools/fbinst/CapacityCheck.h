#pragma once
// Counterfeit sticks report more capacity than their flash holds: what is written beyond the real
// capacity is lost, or lands on the stick's first part over what was there. Before a boot format
// the tool writes a handful of marks across the whole drive, flushes them, reads them back from
// the medium and compares. A drive that loses or mixes them up is refused before anything else is
// written, and what the marks covered is put back. A drive that passes is formatted next, so its
// marks are left to the format.

#include "Medium.h"

#include <cstdint>
#include <vector>

namespace vornel::fbinst {

constexpr std::size_t kMarkBytes = 4096;

// Where the marks go on a drive of `bytes`, in increasing order and apart: its start, every power
// of two from 64 MiB (a stick that wraps at its real capacity writes one of them over its start),
// every eighth of it (one that wraps at a half or a quarter), and its last 4 KiB (one that drops
// what lies beyond its real capacity).
std::vector<std::uint64_t> MarkPlaces(std::uint64_t bytes);

// Throws Failure with kExitFakeCapacity, saying where and how a mark came back wrong, when the
// medium does not keep the marks; any other Failure when it cannot be read or written.
// `seed` makes the marks of each run differ from any earlier run's.
void CheckCapacity(Medium& medium, std::uint64_t bytes, std::uint64_t seed);

} // namespace vornel::fbinst
