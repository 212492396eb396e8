#include "Progress.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vornel::fbinst {

const char* const kProgressMarker = "--progress-on-stdin";

namespace {

std::atomic<int> channel{-1};
std::mutex sending;

// Only one end of a socket pair: a socket connected to a named one (a system logger, a bus)
// would take root's records as root's words.
bool StdinIsSocketPair() {
    struct stat st {};
    int type = 0, domain = 0;
    socklen_t length = sizeof type;
    if (::fstat(STDIN_FILENO, &st) != 0 || !S_ISSOCK(st.st_mode) ||
        ::getsockopt(STDIN_FILENO, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return false;
    length = sizeof domain;
    if (::getsockopt(STDIN_FILENO, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_UNIX)
        return false;
    sockaddr_un peer{};
    length = sizeof peer;
    return ::getpeername(STDIN_FILENO, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
           length == sizeof(sa_family_t);
}

} // namespace

bool ProgressOffered() {
    const char* offered = std::getenv(progress::kProgressEnvironment);
    return offered && std::string_view(offered) == "1" && StdinIsSocketPair();
}

void OpenProgressChannel() {
    if (StdinIsSocketPair())
        channel.store(STDIN_FILENO);
}

bool ProgressChannelOpen() {
    return channel.load() >= 0;
}

void ReportProgress(progress::Phase phase, std::uint64_t done, std::uint64_t total) {
    if (!ProgressChannelOpen())
        return;
    const std::string line = progress::FormatRecord({phase, std::min(done, total), total});
    const std::lock_guard lock(sending);
    const int fd = channel.load();
    // A reader that stops reading must not stop the work; a record cut in two would garble the
    // next, so a channel that cannot take a whole record is given up.
    if (fd >= 0 && ::send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL) !=
                       static_cast<ssize_t>(line.size()))
        channel.store(-1);
}

} // namespace vornel::fbinst
