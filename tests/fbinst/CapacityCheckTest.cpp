// The capacity check against sticks that keep less than they report, in memory: one that wraps
// its upper part onto its lower one, one that drops what lies beyond its real capacity, and a
// sound one.

#include "CapacityCheck.h"
#include "Failure.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <vector>

namespace vornel::fbinst {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kGiB = 1024 * kMiB;

// A stick reporting `reported` bytes whose flash holds `real`: beyond it, a write lands at its
// place modulo `real` (wraps) or is lost, and a read gives zeros (drops). Sectors never written
// hold their place's number, standing for the user's data.
class FakeStick final : public Medium {
  public:
    FakeStick(std::uint64_t real, bool wraps) : real_(real), wraps_(wraps) {}

    void Read(std::uint64_t offset, std::span<std::uint8_t> bytes) const override {
        for (std::size_t at = 0; at < bytes.size(); at += 512) {
            const auto place = Place(offset + at);
            const auto found = place ? sectors_.find(*place) : sectors_.end();
            for (std::size_t i = 0; i < 512; ++i)
                bytes[at + i] = !place ? 0 : found != sectors_.end() ? found->second[i] : Original(*place, i);
        }
    }
    void Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        for (std::size_t at = 0; at < bytes.size(); at += 512)
            if (const auto place = Place(offset + at))
                sectors_[*place].assign(bytes.begin() + at, bytes.begin() + at + 512);
    }
    void Flush() override {}

    // The places whose bytes are not what they were before the check.
    std::size_t Changed() const {
        std::size_t changed = 0;
        for (const auto& [place, bytes] : sectors_)
            for (std::size_t i = 0; i < 512; ++i)
                changed += bytes[i] != Original(place, i) ? 1 : 0;
        return changed;
    }

  private:
    static std::uint8_t Original(std::uint64_t place, std::size_t i) {
        return static_cast<std::uint8_t>(place / 512 + i);
    }
    std::optional<std::uint64_t> Place(std::uint64_t offset) const {
        if (offset < real_ || wraps_)
            return offset % real_;
        return std::nullopt;
    }

    std::uint64_t real_;
    bool wraps_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> sectors_;
};

TEST(FbinstCapacityCheck, MarksCoverTheStickFromItsStartToItsLastSectors) {
    const std::uint64_t reported = 7 * kGiB + 512 * kMiB + 512;
    const std::vector<std::uint64_t> places = MarkPlaces(reported);
    ASSERT_GE(places.size(), 10u);
    EXPECT_EQ(places.front(), 0u);
    EXPECT_EQ(places.back(), reported - kMarkBytes);
    for (std::uint64_t power = 64 * kMiB; power < reported; power *= 2)
        EXPECT_NE(std::find(places.begin(), places.end(), power), places.end()) << power;
    for (std::size_t i = 1; i < places.size(); ++i)
        EXPECT_GE(places[i], places[i - 1] + kMarkBytes);
    // A drive barely larger than a mark keeps its first and last marks apart.
    EXPECT_EQ(MarkPlaces(2 * kMarkBytes), (std::vector<std::uint64_t>{0, kMarkBytes}));
}

TEST(FbinstCapacityCheck, AStickThatWrapsOrDropsIsRefusedAndPutBackASoundOnePasses) {
    struct Case {
        std::uint64_t reported, real;
        bool wraps;
        const char* how;
    };
    for (const Case& c : {Case{16 * kGiB, 8 * kGiB, true, "came back as the one written at byte"},
                          Case{7 * kGiB + 256 * kMiB, 4 * kGiB, true, "came back as the one written at byte"},
                          Case{3 * kGiB, 3 * kGiB / 2, true, "came back as the one written at byte"},
                          Case{64 * kGiB, 63 * kGiB, false, "did not come back"}}) {
        FakeStick stick(c.real, c.wraps);
        try {
            CheckCapacity(stick, c.reported, 42);
            ADD_FAILURE() << c.reported << " reported, " << c.real << " real: passed";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.ExitCode(), disktool::kExitFakeCapacity);
            EXPECT_NE(std::string(failure.what()).find(c.how), std::string::npos) << failure.what();
            EXPECT_NE(std::string(failure.what()).find("what they covered was put back"), std::string::npos);
        }
        EXPECT_EQ(stick.Changed(), 0u) << c.reported << " reported: the user's bytes were not put back";
    }
    FakeStick sound(64 * kGiB, false);
    EXPECT_NO_THROW(CheckCapacity(sound, 64 * kGiB, 42));
    EXPECT_GT(sound.Changed(), 0u); // a passed check leaves its marks to the format
}

} // namespace
} // namespace vornel::fbinst
