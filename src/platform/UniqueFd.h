#pragma once
// An owned file descriptor: closed once, when its owner goes, unless it was released first.

#include <unistd.h>
#include <utility>

namespace vornel::platform {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Hands the descriptor over; this owner then holds none.
    int Release() { return std::exchange(fd_, -1); }
    // Closes the held descriptor (its error ignored) and holds `fd` instead.
    void Reset(int fd = -1) {
        if (fd_ >= 0 && fd_ != fd)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now and says whether the close succeeded (errno set when not): a failed close of a
    // written file can mean lost data.
    bool Close() { return fd_ < 0 || ::close(Release()) == 0; }

  private:
    int fd_ = -1;
};

} // namespace vornel::platform
