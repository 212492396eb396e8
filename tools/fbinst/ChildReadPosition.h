#pragma once
// How far a child process of the tool has read one file: its read position, which mcopy advances
// as it copies, seen in /proc.

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace vornel::fbinst {

class ChildReadPosition {
  public:
    explicit ChildReadPosition(const std::string& path);

    // The child that reads the file, once it has started; from any thread.
    void Follow(pid_t child);
    // 0 until the child has the file open; never falls. From one thread at a time.
    std::uint64_t Position();

  private:
    // The descriptor of the child's that has the file open: its fdinfo, or empty.
    std::string FindFdinfo(pid_t child) const;

    bool exists_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::atomic<pid_t> child_{-1};
    std::string fdinfo_; // empty until the reader is found
    std::uint64_t position_ = 0;
};

} // namespace vornel::fbinst
