// How far a child has read a file, as the copy's progress follows mcopy.

#include "ChildReadPosition.h"
#include "ImageChecks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vornel::fbinst::testing {
namespace {

// A child that reads 100 bytes of `other` and 12345 of `file`, then seeks `file` back to its start;
// it waits for a byte on `go` before the seek and before it ends.
pid_t StartReader(const std::string& file, const std::string& other, int ready, int go) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    char buffer[12345];
    char byte = 0;
    const int first = ::open(other.c_str(), O_RDONLY);
    const int second = ::open(file.c_str(), O_RDONLY);
    const bool read =
        ::read(first, buffer, 100) == 100 && ::read(second, buffer, sizeof buffer) == sizeof buffer;
    if (!read || ::write(ready, "r", 1) != 1 || ::read(go, &byte, 1) != 1)
        ::_exit(1);
    ::lseek(second, 0, SEEK_SET);
    if (::write(ready, "s", 1) != 1 || ::read(go, &byte, 1) != 1)
        ::_exit(1);
    ::_exit(0);
}

TEST(FbinstChildReadPosition, FollowsTheNamedChildsReadOfThatFileAndNeverFalls) {
    const ScratchFolder scratch;
    const std::string file = scratch.Path() + "/a.iso", other = scratch.Path() + "/b.iso";
    WriteWholeFile(file, std::string(65536, 'a'));
    WriteWholeFile(other, std::string(65536, 'b'));
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = StartReader(file, other, ready[1], go[0]);
    ASSERT_GT(child, 0);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);

    ChildReadPosition reading(file), missing(scratch.Path() + "/none.iso");
    EXPECT_EQ(reading.Position(), 0u); // no child named yet
    reading.Follow(child);
    missing.Follow(child);
    EXPECT_EQ(reading.Position(), 12345u);
    EXPECT_EQ(missing.Position(), 0u);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(reading.Position(), 12345u); // the seek back to 0 does not count
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reading.Position(), 12345u); // nor the reader's end
    for (int fd : {ready[0], ready[1], go[0], go[1]})
        ::close(fd);
}

} // namespace
} // namespace vornel::fbinst::testing
