#include "CapacityCheck.h"

#include "Failure.h"
#include "Progress.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace vornel::fbinst {

namespace {

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kFirstPowerOfTwo = 64 * kMiB;

std::uint64_t AlignDown(std::uint64_t value) {
    return value / kMarkBytes * kMarkBytes;
}

// A mark's bytes: a pseudo-random stream (splitmix64) from the run's seed and the mark's place, so
// no two marks, and no mark of another run, are alike.
void FillMark(std::span<std::uint8_t> mark, std::uint64_t seed, std::uint64_t place) {
    std::uint64_t state = seed ^ (place * 0x9E3779B97F4A7C15ull);
    for (std::size_t at = 0; at < mark.size(); at += 8) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        std::memcpy(mark.data() + at, &z, std::min<std::size_t>(8, mark.size() - at));
    }
}

std::span<std::uint8_t> Slot(const AlignedBuffer& buffer, std::size_t index) {
    return buffer.Span().subspan(index * kMarkBytes, kMarkBytes);
}

bool Same(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// Writes back what the first `count` marks covered, the last first; "" when that worked, else why
// not. On a drive that wraps, two places share their bytes and both saved the same original.
std::string PutBack(Medium& medium, const std::vector<std::uint64_t>& places, const AlignedBuffer& saved,
                    std::size_t count) {
    try {
        for (std::size_t i = count; i-- > 0;)
            medium.Write(places[i], Slot(saved, i));
        medium.Flush();
        return {};
    } catch (const Failure& failure) {
        return failure.what();
    }
}

} // namespace

std::vector<std::uint64_t> MarkPlaces(std::uint64_t bytes) {
    if (bytes < kMarkBytes)
        return {};
    std::set<std::uint64_t> wanted{0, bytes - kMarkBytes};
    for (std::uint64_t place = kFirstPowerOfTwo; place < bytes; place *= 2)
        wanted.insert(place);
    for (std::uint64_t eighth = 1; eighth < 8; ++eighth)
        wanted.insert(AlignDown(bytes / 8 * eighth));
    // From the end, so the last mark stays; a place too close to the one after it goes.
    std::vector<std::uint64_t> places;
    for (auto it = wanted.rbegin(); it != wanted.rend(); ++it)
        if (places.empty() || *it + kMarkBytes <= places.back())
            places.push_back(*it);
    std::reverse(places.begin(), places.end());
    return places;
}

void CheckCapacity(Medium& medium, std::uint64_t bytes, std::uint64_t seed) {
    const std::vector<std::uint64_t> places = MarkPlaces(bytes);
    const std::uint64_t steps = 2 * places.size();
    ReportProgress(progress::Phase::Capacity, 0, steps);
    const AlignedBuffer saved(places.size() * kMarkBytes), marks(places.size() * kMarkBytes),
        back(kMarkBytes);
    for (std::size_t i = 0; i < places.size(); ++i) {
        medium.Read(places[i], Slot(saved, i));
        FillMark(Slot(marks, i), seed, places[i]);
    }
    std::size_t written = 0;
    std::string wrong;
    try {
        for (; written < places.size(); ++written) {
            medium.Write(places[written], Slot(marks, written));
            ReportProgress(progress::Phase::Capacity, written + 1, steps);
        }
        medium.Flush();
        for (std::size_t i = 0; i < places.size() && wrong.empty(); ++i) {
            medium.Read(places[i], back.Span());
            ReportProgress(progress::Phase::Capacity, places.size() + i + 1, steps);
            if (Same(back.Span(), Slot(marks, i)))
                continue;
            wrong = "the mark written at byte " + std::to_string(places[i]) + " did not come back (what is " +
                    "written there is lost)";
            for (std::size_t j = 0; j < places.size(); ++j)
                if (Same(back.Span(), Slot(marks, j)))
                    wrong = "the mark written at byte " + std::to_string(places[i]) +
                            " came back as the one written at byte " + std::to_string(places[j]) +
                            " (what is written to one of them lands on the other)";
        }
    } catch (const Failure&) {
        PutBack(medium, places, saved, std::min(written + 1, places.size())); // a failed write may have begun
        throw;
    }
    if (wrong.empty())
        return;
    const std::string notPutBack = PutBack(medium, places, saved, places.size());
    throw Failure("the drive keeps less than the " + std::to_string(bytes) + " bytes it reports: " + wrong +
                      "; do not use it. Nothing but the check's marks was written, and " +
                      (notPutBack.empty() ? "what they covered was put back"
                                          : "what they covered could not all be put back: " + notPutBack),
                  disktool::kExitFakeCapacity);
}

} // namespace vornel::fbinst
