#include "controls/Messages.h"
#include "support/RecordingMessages.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <stdexcept>

namespace vornel::controls {
namespace {

TEST(GuardedTest, AnEscapingErrorBecomesTheErrorReportAndTheProgramCarriesOn) {
    test::RecordingMessages boxes;
    bool after = false;
    Guarded(nullptr, [] { throw std::runtime_error("磁盘已满"); });
    Guarded(nullptr, [] { throw std::runtime_error("Disk full."); });
    // A failure of the core is shown in its Chinese text, which ends its own sentence.
    Guarded(nullptr,
            [] { throw failure::Failure(failure::Kind::CreateFile, "/x", EACCES, "Permission denied"); });
    Guarded(nullptr, [&] { after = true; });
    EXPECT_TRUE(after);
    ASSERT_EQ(boxes.errors.size(), 3);
    EXPECT_EQ(boxes.errors[0], QStringLiteral("磁盘已满."));
    EXPECT_EQ(boxes.errors[1], QStringLiteral("Disk full."));
    EXPECT_EQ(boxes.errors[2], QStringLiteral("无法创建文件 \"/x\"：没有权限。"));
}

} // namespace
} // namespace vornel::controls
