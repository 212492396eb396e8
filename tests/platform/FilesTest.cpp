#include "platform/Files.h"
#include "platform/ReadWrite.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace vornel::platform;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vornel-files-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path, ignored);
    }
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(SplitLines, EveryLineEndingAndNoExtraLineForAFinalBreak) {
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(SplitLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitLines("\r\n"), (std::vector<std::string>{""}));
    EXPECT_EQ(SplitLines("a\r\r\n"), (std::vector<std::string>{"a", ""}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(FileExists, OnlyRegularFilesCount) {
    TempDir dir;
    std::ofstream(dir.path / "f") << "x";
    EXPECT_TRUE(FileExists((dir.path / "f").string()));
    EXPECT_FALSE(FileExists(dir.path.string()));
    EXPECT_FALSE(FileExists((dir.path / "missing").string()));
    EXPECT_FALSE(FileExists(""));
    EXPECT_EQ(FileLength((dir.path / "f").string()), 1);
    EXPECT_EQ(FileLength(dir.path.string()), std::nullopt);
}

TEST(ReadFullyAt, StopsAtTheEndAndReportsAFailedRead) {
    TempDir dir;
    std::ofstream(dir.path / "f") << "0123456789";
    const int fd = ::open((dir.path / "f").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::uint8_t bytes[4] = {};
    EXPECT_EQ(ReadFullyAt(fd, 3, bytes), 4);
    EXPECT_EQ(std::string(bytes, bytes + 4), "3456");
    EXPECT_EQ(ReadFullyAt(fd, 8, bytes), 2);
    EXPECT_EQ(ReadFullyAt(fd, 20, bytes), 0);
    ::close(fd);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    EXPECT_EQ(ReadFullyAt(pipeEnds[0], 0, bytes), -1); // a pipe has no offsets
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST(ReadTextLines, MissingFileGivesTheOpenErrorWithPathAndSystemText) {
    TempDir dir;
    std::string path = (dir.path / "nothing").string();
    try {
        ReadTextLines(path);
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + path + "\". No such file or directory");
    }
}

TEST(WriteFileAtomically, ReplacesWholeAndKeepsTheOldFileWhenItCannotWrite) {
    TempDir dir;
    fs::path file = dir.path / "list";
    WriteFileAtomically(file.string(), JoinLinesCrLf({"a|b", ""}));
    EXPECT_EQ(Slurp(file), "a|b\r\n\r\n");
    WriteFileAtomically(file.string(), "");
    EXPECT_EQ(Slurp(file), "");
    WriteFileAtomically(file.string(), "keep\r\n");
    EXPECT_THROW(WriteFileAtomically((dir.path / "no-folder" / "list").string(), "x"), EFCreateError);
    EXPECT_THROW(WriteFileAtomically(dir.path.string(), "x"), EFCreateError);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);

    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(WriteFileAtomically(file.string(), "new"), EFCreateError);
    fs::permissions(dir.path, fs::perms::owner_all);
    EXPECT_EQ(Slurp(file), "keep\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

TEST(TempPath, IsAPrivateFolderWithATrailingSlash) {
    std::string folder = TempPath();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}
