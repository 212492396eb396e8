#include "controls/Messages.h"
#include "support/RecordingMessages.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace vornel::ui {
namespace {

TEST(GuardedTest, AnEscapingErrorBecomesTheErrorReportAndTheProgramCarriesOn) {
    test::RecordingMessages boxes;
    bool after = false;
    Guarded(nullptr, [] { throw std::runtime_error("磁盘已满"); });
    Guarded(nullptr, [] { throw std::runtime_error("Disk full."); });
    Guarded(nullptr, [&] { after = true; });
    EXPECT_TRUE(after);
    ASSERT_EQ(boxes.errors.size(), 2);
    EXPECT_EQ(boxes.errors[0], QStringLiteral("磁盘已满."));
    EXPECT_EQ(boxes.errors[1], QStringLiteral("Disk full."));
}

} // namespace
} // namespace vornel::ui
