#include "package/PackageBytes.h"
#include "package/u_Package.h"

#include "PackageWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace vornel;
using namespace vornel::test;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class MkpackageTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path payload = dir.path / "payload";
    std::string package = (dir.path / "Data.Vn").string();

    void SetUp() override { fs::create_directories(payload); }

    ToolRun Tool(const std::vector<std::string>& args) {
        std::string command = Quote(std::string(std::getenv("VORNEL_BUILD_DIR")) + "/mkpackage");
        for (const std::string& arg : args)
            command += " " + Quote(arg);
        const fs::path err = dir.path / "stderr";
        command += " 2>" + Quote(err.string());
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        const int status = ::pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, ReadAll(err)};
    }
};

} // namespace

TEST_F(MkpackageTest, CreateOrdersByFilelistAndStoresNamesInCodePage936) {
    fs::create_directories(payload / "boot");
    WriteAll(payload / "filelist", "boot\\中.img\r\nmenu.lst\r\n");
    WriteAll(payload / "menu.lst", "menu");
    WriteAll(payload / "boot" / "中.img", Noise(5000));
    WriteAll(payload / "defMenu.txt", "head");
    ::chmod((payload / "defMenu.txt").c_str(), 0444);
    WriteAll(dir.path / "tool", "tool bytes");

    const ToolRun create =
        Tool({"create", package, payload.string(), "--add", "fbinst.exe=" + (dir.path / "tool").string()});
    ASSERT_EQ(create.status, 0) << create.err;

    const ToolRun list = Tool({"list", package});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.substr(0, list.out.find('\n')), "result: 5");
    EXPECT_NE(list.out.find("\n0\tboot\\中.img\t5000\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\n1\tmenu.lst\t4\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\n2\tdefMenu.txt\t4\t12\t33\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\n3\tfbinst.exe\t10\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\n4\tfilelist\t"), std::string::npos) << list.out;

    // The first entry's stored name: length byte, then code page 936 bytes with "\".
    const std::string bytes = ReadAll(package);
    EXPECT_EQ(bytes.substr(23, 12), std::string("\x0b"
                                                "boot\\\xd6\xd0.img"));

    const ToolRun extract = Tool({"extract", package, (dir.path / "out").string()});
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(extract.out, "result: 5\n");
    EXPECT_EQ(ReadAll(dir.path / "out" / "boot" / "中.img"), Noise(5000));
    EXPECT_EQ(ReadAll(dir.path / "out" / "fbinst.exe"), "tool bytes");
}

TEST_F(MkpackageTest, FilelistNamingAMissingFileFailsWithoutAPackage) {
    WriteAll(payload / "filelist", "menu.lst\n");
    const ToolRun create = Tool({"create", package, payload.string()});
    EXPECT_NE(create.status, 0);
    EXPECT_NE(create.err.find("menu.lst"), std::string::npos) << create.err;
    EXPECT_FALSE(fs::exists(package));
    EXPECT_FALSE(fs::exists(package + ".part"));
}

TEST_F(MkpackageTest, FailuresPrintTheResultOrTheErrorAndExitNonZero) {
    std::string bad = BuildPackage({{"a", "1"}});
    bad[0] = 'f';
    WriteAll(package, bad);
    ToolRun list = Tool({"list", package});
    EXPECT_NE(list.status, 0);
    EXPECT_EQ(list.out, "result: -101\n");
    EXPECT_FALSE(list.err.empty());

    std::string packed = Deflate("data");
    packed[0] = 0x79;
    WriteAll(package, BuildPackage({{"a", "data", 0x20, packed}}));
    ToolRun extract = Tool({"extract", package, (dir.path / "out").string()});
    EXPECT_NE(extract.status, 0);
    EXPECT_EQ(extract.err,
              "error: Damaged compressed data in the package entry \"a\": incorrect header check\n");

    EXPECT_EQ(Tool({}).status, 2);
    EXPECT_EQ(Tool({"create", package}).status, 2);
    EXPECT_EQ(Tool({"create", package, payload.string(), "--add", "noequals"}).status, 2);
    EXPECT_EQ(Tool({"list"}).status, 2);
}

TEST(PackageWriter, RefusesNamesTheReaderWouldNotExtract) {
    TempDir dir;
    mkpackage::PackageWriter writer((dir.path / "p.Vn").string());
    for (const char* name : {"..\\x", "\\x", "C:\\x", "a/b", "", "😀.txt"})
        EXPECT_THROW(writer.AddBytes(name, "x", 0x20), std::runtime_error) << name;
    std::string tooLong(128, 'a');
    for (int i = 0; i < 64; ++i)
        tooLong += "中"; // two bytes each in code page 936
    EXPECT_THROW(writer.AddBytes(tooLong, "x", 0x20), std::runtime_error);
    writer.AddBytes(tooLong.substr(1), "exactly 255", 0x20);
    writer.AddBytes(std::string(255, 'n'), "longest", 0x20);
    writer.Finish();

    package::TPackedFileInfoArr entries;
    package::TPackageHeader header;
    ASSERT_EQ(package::TFDPackage::ReadFileList((dir.path / "p.Vn").string(), entries, header), 2);
    EXPECT_EQ(entries[1].FileName, std::string(255, 'n'));
    EXPECT_EQ(header.TotalFileSize, 18);
}

TEST(PackageWriter, AnUnfinishedPackageLeavesNoFile) {
    TempDir dir;
    {
        mkpackage::PackageWriter writer((dir.path / "p.Vn").string());
        writer.AddBytes("a", "x", 0x20);
    }
    EXPECT_TRUE(fs::is_empty(dir.path));
}

// The program's package and the tests' package (which leaves out the rescue system).
TEST(DataFolder, TheBuiltPackagesCarryEveryFileTheirListNames) {
    for (const char* folder : {"/data/", "/test-data/"}) {
        const std::string data = std::string(std::getenv("VORNEL_BUILD_DIR")) + folder + "Data.Vn";
        package::TPackedFileInfoArr entries;
        package::TPackageHeader header;
        ASSERT_GT(package::TFDPackage::ReadFileList(data, entries, header), 0) << data;
        TempDir dir;
        package::TFDPackage reader;
        ASSERT_EQ(reader.ExtractAll(data, dir.path.string()), header.FileCount);
        for (const char* required : {"filelist", "defMenu.txt", "menu.lst"})
            EXPECT_TRUE(fs::is_regular_file(dir.path / required)) << required;
        std::string list = ReadAll(dir.path / "filelist");
        for (size_t start = 0; start < list.size();) {
            size_t end = list.find_first_of("\r\n", start);
            std::string line = list.substr(start, end - start);
            std::replace(line.begin(), line.end(), '\\', '/');
            EXPECT_TRUE(fs::is_regular_file(dir.path / line)) << line;
            start = list.find_first_not_of("\r\n", end);
        }
        EXPECT_TRUE(fs::is_regular_file(dir.path / "fbinst.exe"));
    }
}
