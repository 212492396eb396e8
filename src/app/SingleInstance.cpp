#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vornel::app {

namespace {

const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaisedAnswer = "raised\n";
constexpr int kRetryPauseMs = 100;
// A request is one short line; a peer that sends more without a line end is cut off.
constexpr qint64 kLongestRequest = 64;

QString WithSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), lockPath_(WithSlash(folder) + QStringLiteral("vornel.lock")),
      socketPath_(WithSlash(folder) + QStringLiteral("vornel.socket")) {
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::AnswerNextRequest);
}

SingleInstance::~SingleInstance() {
    server_.close();
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool SingleInstance::BecomePrimary() {
    // Close-on-exec: the disk tool and the web engine's helpers must not keep the lock alive
    // after the window has gone.
    const int fd =
        ::open(lockPath_.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ =
            QStringLiteral("cannot open %1: %2").arg(lockPath_, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        ::close(fd);
        if (reason != EWOULDBLOCK)
            error_ = QStringLiteral("cannot lock %1: %2")
                         .arg(lockPath_, QString::fromLocal8Bit(std::strerror(reason)));
        return false;
    }
    lockFd_ = fd;
    // Holding the lock, any socket file there is a dead program's.
    QLocalServer::removeServer(socketPath_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    // Without the socket this program still holds the lock: a later start cannot raise it, but
    // cannot open a second window either.
    if (!server_.listen(socketPath_))
        error_ = QStringLiteral("cannot listen on %1: %2").arg(socketPath_, server_.errorString());
    return true;
}

bool SingleInstance::AskPrimaryToRaise(std::chrono::milliseconds bound) const {
    const QDeadlineTimer deadline(bound);
    QLocalSocket socket;
    while (!deadline.hasExpired()) {
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
            break;
        socket.abort();
        // The running program has the lock but may not listen yet.
        QThread::msleep(kRetryPauseMs);
    }
    if (socket.state() != QLocalSocket::ConnectedState)
        return false;
    socket.write(kRaiseRequest);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return false;
    // The answer comes once the running program's event loop has raised the window.
    QByteArray answer;
    while (!answer.endsWith('\n') && socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
        answer += socket.readAll();
    return answer == kRaisedAnswer;
}

void SingleInstance::AnswerNextRequest() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kLongestRequest)
                    socket->disconnectFromServer();
                return;
            }
            if (socket->readLine() == kRaiseRequest) {
                emit raiseRequested();
                socket->write(kRaisedAnswer);
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace vornel::app
