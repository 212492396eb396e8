#include "UdevWatch.h"

#include <algorithm>
#include <linux/netlink.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace vornel::fbinst {

namespace {
constexpr unsigned kKernelEventGroup = 1; // the kernel's own events, not udev's re-broadcasts
}

bool UdevWatches(dev_t disk, const std::string& udevRoot) {
    struct stat link {};
    const std::string name = "b" + std::to_string(major(disk)) + ":" + std::to_string(minor(disk));
    return ::lstat((udevRoot + "/watch/" + name).c_str(), &link) == 0;
}

KernelEvents::KernelEvents() {
    socket_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = kKernelEventGroup;
    if (socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

KernelEvents::~KernelEvents() {
    if (socket_ >= 0)
        ::close(socket_);
}

bool KernelEvents::WaitForAnswer(UdevAnswer& answer, std::chrono::milliseconds bound,
                                 std::chrono::milliseconds quiet) {
    if (socket_ < 0)
        return false;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + bound;
    std::optional<Clock::time_point> quietUntil;
    std::vector<char> buffer(16384);
    for (;;) {
        const Clock::time_point until = quietUntil ? std::min(*quietUntil, deadline) : deadline;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return quietUntil.has_value();
        pollfd ready{socket_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            continue;
        const ssize_t got = ::recv(socket_, buffer.data(), buffer.size(), 0);
        if (got > 0 && answer.Heard(std::string(buffer.data(), static_cast<std::size_t>(got))) &&
            answer.Complete())
            quietUntil = Clock::now() + quiet;
    }
}

UdevAnswer::UdevAnswer(const std::vector<std::string>& devices)
    : devices_(devices.begin(), devices.end()), waiting_(devices_) {}

bool UdevAnswer::Heard(const std::string& message) {
    bool change = false, block = false;
    std::string name;
    for (std::size_t at = message.find('\0'); at != std::string::npos && at + 1 < message.size();) {
        const std::size_t end = message.find('\0', at + 1);
        const std::string field =
            message.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        change |= field == "ACTION=change";
        block |= field == "SUBSYSTEM=block";
        if (field.starts_with("DEVNAME="))
            name = field.substr(8);
        at = end;
    }
    if (!change || !block || !devices_.contains(name))
        return false;
    waiting_.erase(name);
    return true;
}

} // namespace vornel::fbinst
