// The progress channel's records and what the window makes of them.

#include "progress/OperationProgress.h"

#include <gtest/gtest.h>

namespace vornel::progress {
namespace {

TEST(ProgressRecords, RoundTripAndWhatIsNotARecord) {
    const Record copy{Phase::Copy, 5, 4294967295u};
    EXPECT_EQ(FormatRecord(copy), "copy 5 4294967295\n");
    EXPECT_EQ(ParseRecord("copy 5 4294967295"), copy);
    EXPECT_EQ(ParseRecord("check 0 0"), (Record{Phase::Check, 0, 0}));
    EXPECT_EQ(ParseRecord("capacity 3 34"), (Record{Phase::Capacity, 3, 34}));
    for (const char* bad : {"", "copy", "copy 1", "copy 2 1", "copy -1 3", "copy 1 3 4", "move 1 3",
                            "copy 1  3", "copy 1 3x", "step 1 99999999999999999999"})
        EXPECT_FALSE(ParseRecord(bad)) << bad;

    // Lines split across reads are joined; an endless line is dropped without losing the next.
    RecordReader reader;
    EXPECT_TRUE(reader.Feed("step 1").empty());
    EXPECT_EQ(reader.Feed(" 5\ncopy 1 2\nch"),
              (std::vector<Record>{{Phase::Step, 1, 5}, {Phase::Copy, 1, 2}}));
    EXPECT_EQ(reader.Feed("eck 2 2\n" + std::string(100000, '7') + "\nstep 5 5\n"),
              (std::vector<Record>{{Phase::Check, 2, 2}, {Phase::Step, 5, 5}}));
}

constexpr std::uint64_t kMiB = 1 << 20;

TEST(OperationProgress, StepsFilesSpeedTimeLeftAndAFailure) {
    const Clock::time_point t0{};
    const auto at = [&](double seconds) {
        return t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    };
    OperationProgress progress(400 * kMiB, 3);
    // The capacity check shows as a step of its own, with its own bar, before the format's steps.
    progress.Begin({"正在格式化U盘", "", 0, "正在检测U盘的实际容量"});
    progress.Apply({Phase::Capacity, 8, 32}, at(0));
    ProgressView view = progress.View(at(0));
    EXPECT_EQ(view.step, "正在检测U盘的实际容量");
    EXPECT_EQ(view.stepPercent, 25);
    progress.Apply({Phase::Step, 2, 5}, at(0));
    view = progress.View(at(0));
    EXPECT_EQ(view.step, "正在格式化U盘");
    EXPECT_EQ(view.stepPercent, 40);
    EXPECT_EQ(view.overallPercent, 0); // by bytes, and none are copied yet
    progress.Finish();

    progress.Begin({"正在复制文件 a", "正在校验 a", 100 * kMiB, ""});
    progress.Apply({Phase::Copy, 50 * kMiB, 100 * kMiB}, at(10));
    view = progress.View(at(10));
    EXPECT_EQ(view.stepPercent, 50);
    EXPECT_EQ(view.overallPercent, 6); // each byte is copied and read back: 50 of 800
    EXPECT_TRUE(view.speed.empty());   // one sample tells no speed
    progress.Apply({Phase::Check, 100 * kMiB, 100 * kMiB}, at(11));
    view = progress.View(at(11));
    EXPECT_EQ(view.step, "正在校验 a");
    EXPECT_EQ(view.stepPercent, 100);
    EXPECT_EQ(view.overallPercent, 25);
    progress.Finish();

    progress.Begin({"正在复制文件 b", "正在校验 b", 300 * kMiB, ""});
    progress.Apply({Phase::Copy, 300 * kMiB, 300 * kMiB}, at(12));
    view = progress.View(at(12));
    EXPECT_EQ(view.step, "正在复制文件 b");
    EXPECT_EQ(view.overallPercent, 62);
    EXPECT_EQ(view.speed, "225.0 MB/s");              // 450 MiB of work in 2 s
    EXPECT_EQ(view.timeLeft, "约 1 秒");              // 300 MiB left
    EXPECT_TRUE(progress.View(at(18)).speed.empty()); // nothing heard for a while: no guess

    // A record that goes back, or comes after the failure, changes nothing.
    progress.Apply({Phase::Copy, 10 * kMiB, 300 * kMiB}, at(12.5));
    progress.Fail();
    progress.Apply({Phase::Check, 300 * kMiB, 300 * kMiB}, at(13));
    view = progress.View(at(13));
    EXPECT_EQ(view.step, "出错停止：正在复制文件 b");
    EXPECT_EQ(view.stepPercent, 100);
    EXPECT_EQ(view.overallPercent, 62);
    EXPECT_TRUE(view.speed.empty() && view.timeLeft.empty());
}

TEST(OperationProgress, WithoutBytesTheWholeFollowsTheSteps) {
    OperationProgress restore(0, 1);
    restore.Begin({"正在还原U盘空间", "", 0, ""});
    restore.Apply({Phase::Step, 1, 3}, Clock::time_point{});
    EXPECT_EQ(restore.View(Clock::time_point{}).overallPercent, 33);
    restore.Finish();
    EXPECT_EQ(restore.View(Clock::time_point{}).overallPercent, 100);

    // The capacity check counts as a step before its command's own.
    OperationProgress format(0, 2);
    format.Begin({"正在格式化U盘", "", 0, "正在检测U盘的实际容量"});
    format.Apply({Phase::Capacity, 1, 2}, Clock::time_point{});
    EXPECT_EQ(format.View(Clock::time_point{}).overallPercent, 25);
    format.Apply({Phase::Step, 0, 5}, Clock::time_point{});
    EXPECT_EQ(format.View(Clock::time_point{}).overallPercent, 50);
}

TEST(OperationProgress, Texts) {
    EXPECT_EQ(SpeedText(12.34 * kMiB), "12.3 MB/s");
    EXPECT_EQ(TimeLeftText(0.2), "约 1 秒");
    EXPECT_EQ(TimeLeftText(59.6), "约 1 分 00 秒");
    EXPECT_EQ(TimeLeftText(125), "约 2 分 05 秒");
    EXPECT_EQ(TimeLeftText(3725), "约 1 小时 02 分");
}

} // namespace
} // namespace vornel::progress
