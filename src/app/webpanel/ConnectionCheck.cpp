#include "app/webpanel/ConnectionCheck.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <memory>
#include <thread>

namespace vornel::app {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool ConnectsBefore(const addrinfo& address, Clock::time_point deadline) {
    const int fd =
        socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0)
        return false;
    bool connected = connect(fd, address.ai_addr, address.ai_addrlen) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd waiting{fd, POLLOUT, 0};
        int ready;
        do {
            ready = poll(&waiting, 1, MillisecondsLeft(deadline));
        } while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t length = sizeof error;
        connected = ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    close(fd);
    return connected;
}

bool TryConnect(const std::string& host, std::uint16_t port, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0)
        return false;
    bool connected = false;
    for (addrinfo* address = addresses; address && !connected && Clock::now() < deadline;
         address = address->ai_next)
        connected = ConnectsBefore(*address, deadline);
    freeaddrinfo(addresses);
    return connected;
}

} // namespace

bool CanConnectTcp(const std::string& host, std::uint16_t port, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    auto result = std::make_shared<std::promise<bool>>();
    auto answer = result->get_future();
    // The thread owns its copies and the promise, so it may outlive this call safely.
    std::thread([result, host, port, deadline] {
        result->set_value(TryConnect(host, port, deadline));
    }).detach();
    if (answer.wait_until(deadline) != std::future_status::ready)
        return false;
    return answer.get();
}

} // namespace vornel::app
