#include "platform/ImageDrives.h"

#include "drives/FakeDriveTree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace vornel::platform;
using ::testing::HasSubstr;
using vornel::testing::FakeDriveTree;

namespace {

class ImageDrivesTest : public ::testing::Test {
  protected:
    std::string Image(const std::string& name) {
        std::string path = (tree.Root() / name).string();
        FakeDriveTree::Write(path, "x");
        return path;
    }
    FakeDriveTree tree;
};

} // namespace

TEST_F(ImageDrivesTest, GoodEntriesInEitherCaseAndEmptyEntriesIgnored) {
    std::string a = Image("a.img");
    std::string b = Image("b b.img");
    ImageDriveList list = ReadImageDrives(";G=" + a + ";;h=" + b + ";");
    ASSERT_EQ(list.drives.size(), 2u);
    EXPECT_EQ(list.drives[0].letter, 'G');
    EXPECT_EQ(list.drives[0].path, a);
    EXPECT_EQ(list.drives[1].letter, 'H');
    EXPECT_EQ(list.drives[1].path, b);
    EXPECT_EQ(list.claimedLetters, (1u << 6) | (1u << 7));
    EXPECT_TRUE(list.problems.empty());
    EXPECT_TRUE(ReadImageDrives("").drives.empty());
}

TEST_F(ImageDrivesTest, MalformedEntriesAreSkippedWithAReason) {
    std::string good = Image("good.img");
    std::filesystem::create_directory(tree.Root() / "folder");
    const std::string folder = (tree.Root() / "folder").string();
    const std::string missing = (tree.Root() / "missing.img").string();

    struct Case {
        std::string entry;
        std::string reason;
        std::uint32_t claimed;
    } cases[] = {
        {"G" + good, "expected LETTER=/path/to/image", 0}, {"GH=" + good, "must be one of A to Z", 0},
        {"1=" + good, "must be one of A to Z", 0},         {"=" + good, "must be one of A to Z", 0},
        {"G=relative.img", "must be absolute", 1u << 6},   {"G=", "must be absolute", 1u << 6},
        {"G=" + missing, "does not exist", 1u << 6},       {"G=" + folder, "not a regular file", 1u << 6},
        {"G=/dev/null", "not a regular file", 1u << 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        ImageDriveList list = ReadImageDrives(c.entry);
        EXPECT_TRUE(list.drives.empty());
        ASSERT_EQ(list.problems.size(), 1u);
        EXPECT_THAT(list.problems[0], HasSubstr("\"" + c.entry + "\""));
        EXPECT_THAT(list.problems[0], HasSubstr(c.reason));
        EXPECT_EQ(list.claimedLetters, c.claimed);
    }
}

TEST_F(ImageDrivesTest, ADuplicateLetterGivesTheLetterToNeitherEntry) {
    std::string a = Image("a.img");
    std::string b = Image("b.img");
    std::string c = Image("c.img");
    ImageDriveList list = ReadImageDrives("G=" + a + ";H=" + c + ";g=" + b);
    ASSERT_EQ(list.drives.size(), 1u);
    EXPECT_EQ(list.drives[0].letter, 'H');
    EXPECT_EQ(list.problems.size(), 2u);
    EXPECT_THAT(list.problems[0], HasSubstr("named more than once"));
    EXPECT_TRUE(list.claimedLetters & (1u << 6));
}

TEST_F(ImageDrivesTest, EachProblemIsReportedOnce) {
    std::vector<std::string> problems = {"first problem of ReportOnce", "second problem of ReportOnce"};
    ::testing::internal::CaptureStderr();
    ReportImageDriveProblems(problems);
    ReportImageDriveProblems(problems);
    ReportImageDriveProblems({"first problem of ReportOnce"});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "first problem of ReportOnce\nsecond problem of ReportOnce\n");
}
