#include "app/webpanel/ConnectionCheck.h"
#include "app/webpanel/WebPanel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace vornel::app {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A TCP socket bound to a free loopback port, listening or not.
class LoopbackPort {
  public:
    explicit LoopbackPort(int backlog = -1) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (backlog >= 0) {
            EXPECT_EQ(listen(fd_, backlog), 0);
        }
    }
    ~LoopbackPort() { close(fd_); }
    std::uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(ConnectionCheck, ConnectsToAListeningPortAndRefusesAClosedOneAtOnce) {
    LoopbackPort listening(4);
    EXPECT_TRUE(CanConnectTcp("127.0.0.1", listening.port(), 3s));
    EXPECT_TRUE(CanConnectTcp("localhost", listening.port(), 3s));

    // Bound but not listening: the connection is refused, with no wait for the bound.
    LoopbackPort closed;
    const auto start = Clock::now();
    EXPECT_FALSE(CanConnectTcp("127.0.0.1", closed.port(), 3s));
    EXPECT_LT(SecondsSince(start), 1.0);
}

TEST(ConnectionCheck, AConnectionThatNeverCompletesEndsAtTheBound) {
    // A listener whose accept queue is full drops new handshakes, so a connect hangs.
    LoopbackPort full(0);
    std::vector<int> queued;
    for (int i = 0; i < 3; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(full.port());
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        queued.push_back(fd);
    }
    usleep(100'000);
    const auto start = Clock::now();
    EXPECT_FALSE(CanConnectTcp("127.0.0.1", full.port(), 700ms));
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 0.6);
    EXPECT_LT(elapsed, 1.5);
    for (int fd : queued)
        close(fd);
}

TEST(StartPageChoice, RemoteAddressWhenItsHostAnswersElseTheLocalPage) {
    LoopbackPort listening(4);
    const QString remote = QStringLiteral("http://127.0.0.1:%1/").arg(listening.port());
    EXPECT_EQ(WebPanel::ChooseStartPage(remote, QStringLiteral("/opt/数据/data/")), remote);

    LoopbackPort closed;
    EXPECT_EQ(WebPanel::ChooseStartPage(QStringLiteral("http://127.0.0.1:%1/").arg(closed.port()),
                                        QStringLiteral("/opt/数据/data/")),
              QStringLiteral("/opt/数据/data/Res/index.htm"));
    EXPECT_EQ(WebPanel::ChooseStartPage(QStringLiteral("not a url"), QStringLiteral("/d/")),
              QStringLiteral("/d/Res/index.htm"));
}

} // namespace
} // namespace vornel::app
