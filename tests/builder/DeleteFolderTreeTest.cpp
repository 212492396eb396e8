#include "builder/DeleteFolderTree.h"

#include "TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using vornel::builder::DeleteFolderTree;
using vornel::test::TempFolder;
using vornel::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

// A work folder with nested folders, hidden entries and a file without write permission.
fs::path MakeTree(const fs::path& root) {
    fs::path work = root / "VnTemp";
    fs::create_directories(work / "boot" / "grub" / ".hidden folder");
    WriteBytes(work / "filelist", "boot\\grub\\core.img\r\n");
    WriteBytes(work / ".hidden", "h");
    WriteBytes(work / "boot" / "grub" / "core.img", "core");
    WriteBytes(work / "boot" / "grub" / ".hidden folder" / ".x", "x");
    WriteBytes(work / "boot" / "readonly.bin", "r");
    fs::permissions(work / "boot" / "readonly.bin", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(work / "empty");
    return work;
}

} // namespace

TEST(DeleteFolderTree, RemovesTheWholeTreeWithOrWithoutTrailingSlash) {
    for (const char* suffix : {"", "/", "//"}) {
        TempFolder temp;
        fs::path work = MakeTree(temp.path());
        DeleteFolderTree(work.string() + suffix);
        EXPECT_FALSE(fs::exists(fs::symlink_status(work))) << "suffix '" << suffix << "'";
        EXPECT_TRUE(fs::is_directory(temp.path()));
    }
}

TEST(DeleteFolderTree, AMissingFolderAFileOrALinkToAFolderIsLeftAlone) {
    TempFolder temp;
    DeleteFolderTree((temp.path() / "missing").string());
    WriteBytes(temp.path() / "plain", "p");
    DeleteFolderTree((temp.path() / "plain").string());
    EXPECT_TRUE(fs::exists(temp.path() / "plain"));
    fs::create_directory(temp.path() / "outside");
    WriteBytes(temp.path() / "outside" / "keep", "k");
    fs::create_directory_symlink(temp.path() / "outside", temp.path() / "VnTemp");
    DeleteFolderTree((temp.path() / "VnTemp").string() + "/");
    EXPECT_TRUE(fs::exists(temp.path() / "outside" / "keep"));
}

TEST(DeleteFolderTree, LinksAreRemovedAsLinksAndTheirTargetsSurvive) {
    TempFolder temp;
    fs::path outside = temp.path() / "outside";
    fs::create_directories(outside / "sub");
    WriteBytes(outside / "keep.iso", "k");
    WriteBytes(outside / "sub" / "keep2", "k");
    fs::path work = MakeTree(temp.path());
    fs::create_directory_symlink(outside, work / "to-outside");
    fs::create_directory_symlink(outside, work / "boot" / "to-outside-deeper");
    fs::create_symlink(outside / "keep.iso", work / "to-file");
    fs::create_symlink(temp.path() / "nowhere", work / "dangling");

    DeleteFolderTree(work.string());

    EXPECT_FALSE(fs::exists(fs::symlink_status(work)));
    EXPECT_TRUE(fs::exists(outside / "keep.iso"));
    EXPECT_TRUE(fs::exists(outside / "sub" / "keep2"));
}

// A file that cannot be deleted stays, with its folder and every folder above it; the rest goes.
// Root deletes whatever the permissions say, so as root the deleting runs in a child that has
// dropped to an unprivileged user.
TEST(DeleteFolderTree, AnUndeletableFileKeepsItsFoldersUpToTheTop) {
    TempFolder temp;
    fs::permissions(temp.path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    fs::path work = MakeTree(temp.path());
    fs::path locked = work / "boot" / "grub" / "locked";
    fs::create_directory(locked);
    WriteBytes(locked / "in-use.img", "u");
    const uid_t nobody = 65534;
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        for (const auto& entry : fs::recursive_directory_iterator(work))
            ASSERT_EQ(::lchown(entry.path().c_str(), nobody, nobody), 0);
        ASSERT_EQ(::lchown(work.c_str(), nobody, nobody), 0);
    }
    // No write permission on its folder: the file cannot be unlinked.
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);

    if (asRoot) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                ::_exit(2);
            DeleteFolderTree(work.string());
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
        DeleteFolderTree(work.string());
    }

    EXPECT_TRUE(fs::exists(locked / "in-use.img"));
    EXPECT_TRUE(fs::is_directory(work / "boot" / "grub"));
    EXPECT_TRUE(fs::is_directory(work));
    EXPECT_FALSE(fs::exists(work / "filelist"));
    EXPECT_FALSE(fs::exists(work / ".hidden"));
    EXPECT_FALSE(fs::exists(work / "empty"));
    EXPECT_FALSE(fs::exists(work / "boot" / "readonly.bin"));
    EXPECT_FALSE(fs::exists(work / "boot" / "grub" / "core.img"));
    EXPECT_FALSE(fs::exists(work / "boot" / "grub" / ".hidden folder"));
    fs::permissions(locked, fs::perms::owner_all);
}
