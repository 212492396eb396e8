#include "package/PackageBytes.h"
#include "package/u_Package.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace vornel::package;
using namespace vornel::test;
namespace fs = std::filesystem;

namespace {

struct Report {
    std::string fileName;
    std::int32_t position, size, index;
    std::int32_t headerCount; // the reported header's FileCount, -1 for none
    bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Report& r) {
    return out << "{" << r.fileName << ", " << r.position << ", " << r.size << ", " << r.index << ", "
               << r.headerCount << "}";
}

bool IsReadOnly(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
}

class ExtractTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string file = (dir.path / "Data.Vn").string();
    fs::path dest = dir.path / "work";
    TFDPackage package;
    std::vector<Report> reports;

    void Write(const std::vector<RawEntry>& entries) { WriteAll(file, BuildPackage(entries)); }
    void Record() {
        package.OnProgress = [this](const std::string& name, std::int32_t position, std::int32_t size,
                                    std::int32_t index, const TPackageHeader* header, bool&) {
            reports.push_back({name, position, size, index, header ? header->FileCount : -1});
        };
    }
    std::int32_t ExtractAll() { return package.ExtractAll(file, dest.string()); }
    std::string Out(const std::string& name) const { return (dest / name).string(); }
};

} // namespace

TEST_F(ExtractTest, ExtractsEveryEntryIntoItsFoldersWithItsBytes) {
    const std::string big = Noise(700'000);
    Write({{"fbinst.exe", big}, {"boot\\grub\\\xd6\xd0.cfg", "menu"}, {"filelist", ""}});
    ASSERT_EQ(ExtractAll(), 3);
    EXPECT_EQ(ReadAll(dest / "fbinst.exe"), big);
    EXPECT_EQ(ReadAll(dest / "boot/grub/中.cfg"), "menu");
    EXPECT_TRUE(fs::is_regular_file(dest / "filelist"));
    EXPECT_EQ(fs::file_size(dest / "filelist"), 0u);
}

TEST_F(ExtractTest, ReportsBeforeEachEntryAndAfterEachChunk) {
    Write({{"empty", ""}, {"one", Noise(524'288)}, {"two", Noise(524'289)}});
    Record();
    ASSERT_EQ(ExtractAll(), 3);
    const std::vector<Report> expected = {
        {"empty", 0, 0, 0, 3},
        {Out("empty"), 0, 0, -1, -1},
        {"one", 0, 524288, 1, 3},
        {Out("one"), 524288, 524288, -1, -1},
        {"two", 0, 524289, 2, 3},
        {Out("two"), 524288, 524289, -1, -1},
        {Out("two"), 524289, 524289, -1, -1},
    };
    EXPECT_EQ(reports, expected);
}

TEST_F(ExtractTest, CancelBeforeTheFirstEntryCreatesNothing) {
    Write({{"a", "1"}});
    package.OnProgress = [](const std::string&, std::int32_t, std::int32_t, std::int32_t,
                            const TPackageHeader*, bool& cancel) { cancel = true; };
    EXPECT_EQ(ExtractAll(), kCancelled);
    EXPECT_FALSE(fs::exists(dest));
}

TEST_F(ExtractTest, CancelAfterTheFirstChunkKeepsOneChunkAndTheAttributesByOperation) {
    const std::string data = Noise(600'000);
    Write({{"big", data, 0x21}, {"later", "x"}});
    package.OnProgress = [](const std::string&, std::int32_t position, std::int32_t, std::int32_t,
                            const TPackageHeader*, bool& cancel) { cancel = position > 0; };

    EXPECT_EQ(ExtractAll(), kCancelled);
    EXPECT_EQ(ReadAll(dest / "big"), data.substr(0, 524288));
    EXPECT_FALSE(IsReadOnly(dest / "big")); // cut short: the stored attributes are not set
    EXPECT_FALSE(fs::exists(dest / "later"));

    TPackedFileInfoArr entries;
    TPackageHeader header;
    ASSERT_EQ(TFDPackage::ReadFileList(file, entries, header), 2);
    EXPECT_EQ(package.ExtractFile(file, dest.string(), entries[0]), kCancelled);
    EXPECT_EQ(fs::file_size(dest / "big"), 524288u);
    EXPECT_TRUE(IsReadOnly(dest / "big")); // the single-entry extraction sets them anyway
}

TEST_F(ExtractTest, FreeSpaceEqualToTheTotalIsEnoughAndOneByteLessIsNot) {
    Write({{"a", "12345"}, {"b", "6789"}});
    Record();
    std::string askedFor;
    package.SpaceUnit = [](const std::string&) { return std::int64_t{1}; };
    package.FreeSpace = [&](const std::string& path) {
        askedFor = path;
        return std::int64_t{8};
    };
    EXPECT_EQ(ExtractAll(), kNoSpace);
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_EQ(askedFor, dest.string());

    // A header that understates the total does not let the entries through.
    std::string understated = ReadAll(file);
    PutInt64(understated, kTotalSizeAt, 0);
    WriteAll(file, understated);
    EXPECT_EQ(ExtractAll(), kNoSpace);

    package.FreeSpace = [](const std::string&) { return std::int64_t{9}; };
    EXPECT_EQ(ExtractAll(), 2);

    // A file system that gives space in blocks: each file takes whole ones, a folder one more. A
    // small file system would otherwise fill up before the extraction stops.
    Write({{"a", "12345"}, {"b", "6789"}, {"d\\c", "1"}, {"d\\e", "2"}});
    package.SpaceUnit = [](const std::string&) { return std::int64_t{4096}; };
    package.FreeSpace = [](const std::string&) { return std::int64_t{5 * 4096 - 1}; };
    EXPECT_EQ(ExtractAll(), kNoSpace);
    EXPECT_EQ(package.DescribeFailure(kNoSpace, file, dest.string()).needed, 5 * 4096);
    package.FreeSpace = [](const std::string&) { return std::int64_t{5 * 4096}; };
    EXPECT_EQ(ExtractAll(), 4);
}

TEST_F(ExtractTest, FreeSpaceIsMeasuredAtTheNearestExistingFolder) {
    const std::int64_t here = AvailableBytes(dir.path.string());
    const std::int64_t below = AvailableBytes((dir.path / "not" / "yet").string());
    EXPECT_GT(here, 0);
    // Other processes write to the same file system meanwhile: allow some drift.
    EXPECT_NEAR(static_cast<double>(below), static_cast<double>(here), 64.0 * 1024 * 1024);
}

TEST_F(ExtractTest, EmptyPackageCreatesNothingNotEvenTheDestination) {
    Write({});
    EXPECT_EQ(ExtractAll(), 0);
    EXPECT_FALSE(fs::exists(dest));
}

TEST_F(ExtractTest, ALaterEntryOfTheSameNameReplacesTheEarlier) {
    Write({{"menu.lst", "old and longer"}, {"menu.lst", "new"}});
    ASSERT_EQ(ExtractAll(), 2);
    EXPECT_EQ(ReadAll(dest / "menu.lst"), "new");
}

TEST_F(ExtractTest, AStreamThatGoesOnOrLacksItsEndIsRefused) {
    // Four more bytes than FileSize: never cut silently.
    WriteAll(file, BuildPackage({{"a", "abcd", 0x20, Deflate("abcdefgh")}}));
    EXPECT_EQ(ExtractAll(), kSizeMismatch);
    TPackedFileInfoArr entries;
    TPackageHeader header;
    ASSERT_EQ(TFDPackage::ReadFileList(file, entries, header), 1);
    EXPECT_EQ(package.ExtractFile(file, dest.string(), entries[0]), kSizeMismatch);

    // Every byte is there, but the package ends before the stream's check value.
    std::string packed = Deflate("abcd");
    packed.resize(packed.size() - 4);
    WriteAll(file, BuildPackage({{"a", "abcd", 0x20, packed}}));
    EXPECT_EQ(ExtractAll(), kSizeMismatch);

    // A wrong check value after exactly FileSize bytes is damaged data.
    packed = Deflate("abcd");
    packed.back() ^= 0x55;
    WriteAll(file, BuildPackage({{"a", "abcd", 0x20, packed}}));
    EXPECT_THROW(ExtractAll(), ECompressionError);
}

TEST_F(ExtractTest, DataThatEndsEarlyGivesTheLengthError) {
    // The stream ends after 3 bytes of a 10-byte entry.
    Write({{"short", "0123456789", 0x20, Deflate("012")}, {"next", "x"}});
    EXPECT_EQ(ExtractAll(), kSizeMismatch);
    EXPECT_EQ(ReadAll(dest / "short"), "012");
    EXPECT_FALSE(fs::exists(dest / "next"));

    // The package file itself ends inside the stream.
    const std::string data = Noise(200'000);
    std::string cut = BuildPackage({{"cut", data}});
    const std::size_t keep = cut.size() - 1000;
    cut.resize(keep);
    PutInt32(cut, kFirstEntryAt + kPackedSizeAt, static_cast<std::int32_t>(keep - 311));
    PutInt64(cut, kDataSizeAt, static_cast<std::int64_t>(keep) - 23);
    WriteAll(file, cut);
    EXPECT_EQ(ExtractAll(), kSizeMismatch);
    EXPECT_LT(fs::file_size(dest / "cut"), data.size());
}

TEST_F(ExtractTest, DamagedEntryRaisesErrorAfterFinishingTheEarlierOnes) {
    std::string damaged = Deflate("second");
    damaged[0] = 0x79; // not a zlib header
    Write({{"first", "one", 0x21}, {"second", "second", 0x20, damaged}, {"third", "three"}});
    try {
        ExtractAll();
        FAIL() << "no error";
    } catch (const ECompressionError& error) {
        // It names the entry, the package and zlib's reason.
        EXPECT_EQ(error.subject, "second");
        EXPECT_EQ(error.place, file);
        EXPECT_EQ(error.reason, "incorrect header check");
    }
    EXPECT_EQ(ReadAll(dest / "first"), "one");
    EXPECT_TRUE(IsReadOnly(dest / "first"));
    EXPECT_TRUE(fs::exists(dest / "second"));
    EXPECT_FALSE(fs::exists(dest / "third"));
}

TEST_F(ExtractTest, ReadOnlyFileFromAnEarlierRunIsReplacedNotWrittenThrough) {
    Write({{"fbinst.exe", "version 1", 0x21}});
    ASSERT_EQ(ExtractAll(), 1);
    ASSERT_TRUE(IsReadOnly(dest / "fbinst.exe"));
    // A second name for the old file shows whether the new bytes went into it.
    fs::create_hard_link(dest / "fbinst.exe", dir.path / "old");

    Write({{"fbinst.exe", "version 2", 0x21}});
    ASSERT_EQ(ExtractAll(), 1);
    EXPECT_EQ(ReadAll(dest / "fbinst.exe"), "version 2");
    EXPECT_TRUE(IsReadOnly(dest / "fbinst.exe"));
    EXPECT_EQ(ReadAll(dir.path / "old"), "version 1");
}

TEST_F(ExtractTest, LinksPlantedInTheDestinationAreNeverFollowed) {
    const fs::path outside = dir.path / "outside";
    fs::create_directories(outside);
    WriteAll(outside / "target", "precious");
    fs::create_directories(dest);
    fs::create_symlink(outside / "target", dest / "menu.lst");
    fs::create_directory_symlink(outside, dest / "boot");

    Write({{"menu.lst", "menu"}});
    ASSERT_EQ(ExtractAll(), 1);
    EXPECT_FALSE(fs::is_symlink(dest / "menu.lst"));
    EXPECT_EQ(ReadAll(dest / "menu.lst"), "menu");
    EXPECT_EQ(ReadAll(outside / "target"), "precious");

    Write({{"boot\\target", "evil"}});
    EXPECT_THROW(ExtractAll(), vornel::platform::EFCreateError);
    EXPECT_EQ(ReadAll(outside / "target"), "precious");
}

TEST_F(ExtractTest, NamesThatLeaveTheDestinationAreRefusedBeforeAnythingIsWritten) {
    for (const char* name : {"..\\evil", "a\\..\\..\\evil", "\\evil", "/evil", "C:\\evil", "c:evil", "",
                             "dir\\", "bad\x01name", "..", "a/../../evil"}) {
        Write({{"good", "g"}, {name, "e"}});
        EXPECT_EQ(ExtractAll(), kBadName) << name;
        EXPECT_FALSE(fs::exists(dest)) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1); // only the package
}

TEST_F(ExtractTest, HarmlessSeparatorsAndDestinationFormsAreAccepted) {
    Write({{"a\\\\.\\b.txt", "b"}});
    Record();
    ASSERT_EQ(package.ExtractAll(file, dest.string() + "/"), 1);
    EXPECT_EQ(ReadAll(dest / "a/b.txt"), "b");
    EXPECT_EQ(reports.back().fileName, dest.string() + "/a//./b.txt");

    // A destination written with Windows separators reaches the same folder.
    std::string windowsForm = dest.string();
    std::replace(windowsForm.begin(), windowsForm.end(), '/', '\\');
    ASSERT_EQ(package.ExtractAll(file, windowsForm + "\\"), 1);
}

TEST_F(ExtractTest, OutputThatCannotBeCreatedRaisesTheCreateError) {
    Write({{"menu.lst", "menu"}});
    fs::create_directories(dest / "menu.lst");
    try {
        ExtractAll();
        FAIL() << "no error";
    } catch (const vornel::platform::EFCreateError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot create file \"" + Out("menu.lst") + "\". Is a directory");
    }
}

TEST_F(ExtractTest, MissingPackageGivesMinusOne) {
    EXPECT_EQ(ExtractAll(), kMissingFile);
    EXPECT_EQ(package.ExtractFile(file, dest.string(), TPackedFileInfo{.FileName = "a"}), kMissingFile);
}

TEST_F(ExtractTest, ExtractFileWritesOneEntryIntoANewFolderKeepingItsCase) {
    Write({{"filelist", "list"}, {"FBINST.EXE", Noise(3000), 0x21}});
    TPackedFileInfoArr entries;
    TPackageHeader header;
    ASSERT_EQ(TFDPackage::ReadFileList(file, entries, header), 2);
    Record();
    const fs::path fresh = dir.path / "tmp" / "new";
    EXPECT_EQ(package.ExtractFile(file, fresh.string() + "/", entries[1]), 3000);
    EXPECT_EQ(ReadAll(fresh / "FBINST.EXE"), Noise(3000));
    EXPECT_TRUE(IsReadOnly(fresh / "FBINST.EXE"));
    EXPECT_FALSE(fs::exists(fresh / "filelist"));
    EXPECT_EQ(reports, (std::vector<Report>{{(fresh / "FBINST.EXE").string(), 3000, 3000, -1, -1}}));
}

TEST_F(ExtractTest, ExtractFileRefusesRecordsThatDoNotFitThePackage) {
    Write({{"a", "abc"}});
    TPackedFileInfoArr entries;
    TPackageHeader header;
    ASSERT_EQ(TFDPackage::ReadFileList(file, entries, header), 1);
    TPackedFileInfo entry = entries[0];

    entry.DataPos = 1'000'000;
    EXPECT_EQ(package.ExtractFile(file, dest.string(), entry), kMissingFile);
    entry.DataPos = -5;
    EXPECT_EQ(package.ExtractFile(file, dest.string(), entry), kMissingFile);
    entry = entries[0];
    entry.FileSize = -1;
    EXPECT_EQ(package.ExtractFile(file, dest.string(), entry), kBadEntry);
    entry = entries[0];
    entry.FileName = "..\\a";
    EXPECT_EQ(package.ExtractFile(file, dest.string(), entry), kBadName);
    EXPECT_FALSE(fs::exists(dest));
}

TEST_F(ExtractTest, ExtractStreamInflatesFromTheGivenPosition) {
    Write({{"skip", "skipped"}, {"take", Noise(70'000)}});
    TPackedFileInfoArr entries;
    TPackageHeader header;
    ASSERT_EQ(TFDPackage::ReadFileList(file, entries, header), 2);
    const int source = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(source, 0);
    ::lseek(source, entries[1].DataPos, SEEK_SET);
    const std::string out = (dest / "deep" / "take").string();
    EXPECT_EQ(package.ExtractStream(out, source, 70'000), 70'000);
    EXPECT_EQ(ReadAll(out), Noise(70'000));
    EXPECT_EQ(package.ExtractStream(out, source, -1), kBadEntry);
    ::close(source);
}
