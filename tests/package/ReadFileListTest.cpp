#include "package/PackageBytes.h"
#include "package/u_Package.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace vornel::package;
using namespace vornel::test;
namespace fs = std::filesystem;

namespace {

class ReadFileListTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string file = (dir.path / "Data.Vn").string();
    TPackedFileInfoArr entries{TPackedFileInfo{.FileName = "untouched"}};
    TPackageHeader header{.Magic = {'x', 'y'}, .Version = 9};

    std::int32_t Read(const std::string& bytes) {
        WriteAll(file, bytes);
        return TFDPackage::ReadFileList(file, entries, header);
    }
    bool EntriesUntouched() const { return entries.size() == 1 && entries[0].FileName == "untouched"; }
    bool HeaderUntouched() const { return header.Magic[0] == 'x' && header.Version == 9; }
};

std::string TwoEntries() {
    return BuildPackage({{"a.txt", "first"}, {"b.txt", "second"}});
}

} // namespace

TEST_F(ReadFileListTest, MissingFolderOrShortFileGivesMinusOneAndTouchesNothing) {
    EXPECT_EQ(TFDPackage::ReadFileList(file, entries, header), kMissingFile);
    EXPECT_EQ(TFDPackage::ReadFileList(dir.path.string(), entries, header), kMissingFile);
    EXPECT_EQ(Read(BuildPackage({}).substr(0, 22)), kMissingFile);
    EXPECT_TRUE(EntriesUntouched());
    EXPECT_TRUE(HeaderUntouched());
}

TEST_F(ReadFileListTest, HeaderOnlyPackageIsValidAndEmpty) {
    EXPECT_EQ(Read(BuildPackage({})), 0);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(header.Version, 1);
    EXPECT_EQ(header.DataSize, 0);
}

TEST_F(ReadFileListTest, RejectedHeadersKeepEntriesAndReportTheHeaderAsRead) {
    std::string lower = TwoEntries();
    lower[0] = 'f';
    lower[1] = 'd';
    EXPECT_EQ(Read(lower), kBadMagic);
    EXPECT_EQ(header.Magic[0], 'f');

    std::string shortMagic = TwoEntries();
    shortMagic[1] = '\0';
    EXPECT_EQ(Read(shortMagic), kBadMagic);

    std::string version2 = TwoEntries();
    version2[2] = 2;
    EXPECT_EQ(Read(version2), kBadVersion);
    EXPECT_EQ(header.Version, 2);
    EXPECT_TRUE(EntriesUntouched());
}

TEST_F(ReadFileListTest, AppendedByteCountsOnlyWhenDataSizeSaysSo) {
    std::string appended = TwoEntries() + 'x';
    EXPECT_EQ(Read(appended), kBadDataSize);
    EXPECT_TRUE(EntriesUntouched());

    PutInt64(appended, kDataSizeAt, static_cast<std::int64_t>(appended.size()) - 23);
    ASSERT_EQ(Read(appended), 2);
    EXPECT_EQ(entries[1].FileName, "b.txt");
}

TEST_F(ReadFileListTest, EntriesCarryFieldsAndDataPositions) {
    const std::string hundred = Noise(100);
    std::string bytes = BuildPackage({{"a.bin", "ignored", 0x21, hundred}, {"b.bin", "x"}});
    // The reader never inflates: 100 bytes of noise stand for the first entry's data.
    ASSERT_EQ(Read(bytes), 2);
    EXPECT_EQ(entries[0].DataPos, 311);
    EXPECT_EQ(entries[0].PackedSize, 100);
    EXPECT_EQ(entries[0].FileSize, 7);
    EXPECT_EQ(entries[0].Attributes, 0x21u);
    EXPECT_EQ(entries[0].Marker, kEntryMarker);
    EXPECT_EQ(entries[1].DataPos, 699);
    EXPECT_EQ(header.FileCount, 2);
    EXPECT_EQ(header.TotalFileSize, 8);
}

TEST_F(ReadFileListTest, BadSecondMarkerFillsOnlyTheFirstRecord) {
    std::string bytes = BuildPackage({{"a.txt", "first"}, {"b.txt", "second", 0x20, "", 0x7FFFFFFE}});
    ASSERT_EQ(Read(bytes), kBadEntry);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].FileName, "a.txt");
    EXPECT_EQ(entries[0].DataPos, 311);
    EXPECT_EQ(entries[1].FileName, "");
    EXPECT_EQ(entries[1].FileSize, 0);
    EXPECT_EQ(entries[1].DataPos, 0);
    EXPECT_EQ(entries[1].Marker, 0);
}

TEST_F(ReadFileListTest, CountsTheFileCannotHoldAreRefusedBeforeAllocating) {
    std::string huge = BuildPackage({});
    PutInt32(huge, kFileCountAt, 2'000'000'000);
    EXPECT_EQ(Read(huge), kBadEntry);
    EXPECT_TRUE(EntriesUntouched());

    std::string negative = TwoEntries();
    PutInt32(negative, kFileCountAt, -1);
    EXPECT_EQ(Read(negative), kBadEntry);
    EXPECT_TRUE(EntriesUntouched());
}

TEST_F(ReadFileListTest, ChainRunningPastTheEndFillsNothingFromUnreadBytes) {
    // Room for two headers, but the second one is cut short.
    std::string cut = BuildPackage({{"a.txt", "x", 0x20, Noise(400)}});
    PutInt32(cut, kFileCountAt, 2);
    ASSERT_EQ(Read(cut), kBadEntry);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].FileName, "a.txt");
    EXPECT_EQ(entries[1].FileName, "");

    // The last entry's data would end beyond the file.
    std::string beyond = TwoEntries();
    const std::size_t second = 23 + 288 + Deflate("first").size();
    PutInt32(beyond, second + kPackedSizeAt, 1000);
    EXPECT_EQ(Read(beyond), kBadEntry);
    EXPECT_EQ(entries[0].FileName, "a.txt");
}

TEST_F(ReadFileListTest, NegativeSizesAreRejected) {
    for (std::size_t field : {kFileSizeAt, kPackedSizeAt}) {
        std::string bytes = TwoEntries();
        PutInt32(bytes, kFirstEntryAt + field, -5);
        EXPECT_EQ(Read(bytes), kBadEntry) << field;
        EXPECT_EQ(entries[0].FileName, "");
    }
}

TEST_F(ReadFileListTest, NamesAreDecodedFromCodePage936) {
    // "\x95\x5c" is one character whose second byte is "\": it must not split the name.
    ASSERT_EQ(Read(BuildPackage({{"\xd6\xd0\xce\xc4\\\x95\x5c.txt", "x"}})), 1);
    EXPECT_EQ(entries[0].FileName, "中文\\\xe6\x98\x9e.txt");

    EXPECT_EQ(Read(BuildPackage({{"ok.txt", "x"}, {"bad\x81 .txt", "y"}})), kBadName);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].FileName, "ok.txt");
    EXPECT_EQ(entries[1].FileName, "");
}

TEST_F(ReadFileListTest, UnopenableFileRaisesTheOpenError) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens every file";
    WriteAll(file, TwoEntries());
    ::chmod(file.c_str(), 0);
    try {
        TFDPackage::ReadFileList(file, entries, header);
        FAIL() << "no error";
    } catch (const vornel::platform::EFOpenError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + file + "\". Permission denied");
    }
}
