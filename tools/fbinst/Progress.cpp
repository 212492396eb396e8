#include "Progress.h"

#include "platform/ReadWrite.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace vornel::fbinst {

const char* const kProgressMarker = "--progress-on-stdin";

namespace {

constexpr auto kSampleEvery = std::chrono::milliseconds(100);

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

// The number after `key` in a /proc text, or nullopt.
std::optional<std::uint64_t> NumberAfter(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    std::size_t begin = at + key.size();
    while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + begin, text.data() + text.size(), value);
    return error == std::errc() ? std::optional(value) : std::nullopt;
}

// What the file holds; empty when it is gone (the process ended).
std::string ReadProcFile(const std::string& path) {
    std::string text;
    platform::ReadWholeFile(path, text);
    return text;
}

std::vector<pid_t> ChildProcesses() {
    std::vector<pid_t> children;
    const std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc)
        return children;
    const std::string parent = std::to_string(::getpid());
    while (const dirent* entry = ::readdir(proc.get())) {
        pid_t pid = 0;
        const std::string_view name(entry->d_name);
        if (std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc())
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and brackets, so count from the last ')'.
        const std::string stat = ReadProcFile("/proc/" + std::string(name) + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 >= stat.size())
            continue;
        const std::size_t ppidAt = stat.find(' ', close + 2) + 1;
        if (stat.compare(ppidAt, parent.size() + 1, parent + " ") == 0)
            children.push_back(pid);
    }
    return children;
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

void ReportProgress(progress::Phase phase, std::uint64_t done, std::uint64_t total) {
    if (channel.load() < 0)
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

ProgressWatch::ProgressWatch(progress::Phase phase, std::uint64_t total, std::function<std::uint64_t()> probe)
    : phase_(phase), total_(total), probe_(std::move(probe)) {
    if (channel.load() < 0)
        return;
    ReportProgress(phase_, 0, total_);
    sampler_ = std::thread([this] {
        std::uint64_t reported = 0;
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, kSampleEvery, [this] { return stopping_; })) {
            const std::uint64_t now = std::min(probe_(), total_);
            if (now > reported)
                ReportProgress(phase_, reported = now, total_);
        }
    });
}

ProgressWatch::~ProgressWatch() {
    Stop();
}

void ProgressWatch::Stop() {
    if (!sampler_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    sampler_.join();
}

void ProgressWatch::Complete() {
    Stop();
    ReportProgress(phase_, total_, total_);
}

std::function<std::uint64_t()> ChildReadPosition(const std::string& path) {
    struct stat source {};
    if (::stat(path.c_str(), &source) != 0)
        return [] { return std::uint64_t{0}; };
    struct Found {
        std::string fdinfo; // empty until the reader is found
        std::uint64_t position = 0;
    };
    auto found = std::make_shared<Found>();
    return [found, device = source.st_dev, inode = source.st_ino]() -> std::uint64_t {
        if (!found->fdinfo.empty()) {
            if (auto position = NumberAfter(ReadProcFile(found->fdinfo), "pos:"))
                found->position = std::max(found->position, *position);
            else
                found->fdinfo.clear(); // the reader has ended; look for the next one
            return found->position;
        }
        for (pid_t child : ChildProcesses()) {
            const std::string folder = "/proc/" + std::to_string(child);
            const std::unique_ptr<DIR, int (*)(DIR*)> fds(::opendir((folder + "/fd").c_str()), ::closedir);
            for (const dirent* entry; fds && (entry = ::readdir(fds.get()));) {
                struct stat open {};
                const std::string fd = entry->d_name;
                if (fd == "." || fd == ".." || ::stat((folder + "/fd/" + fd).c_str(), &open) != 0 ||
                    open.st_dev != device || open.st_ino != inode)
                    continue;
                found->fdinfo = folder + "/fdinfo/" + fd;
                if (auto position = NumberAfter(ReadProcFile(found->fdinfo), "pos:"))
                    found->position = std::max(found->position, *position);
                return found->position;
            }
        }
        return found->position;
    };
}

} // namespace vornel::fbinst
