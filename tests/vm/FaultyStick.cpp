#include "vm/FaultyStick.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <endian.h>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace vornel::vm {

namespace {

// The NBD protocol's fixed newstyle handshake and simple replies (all numbers big-endian).
constexpr std::uint64_t kNbdMagic = 0x4e42444d41474943ull;   // "NBDMAGIC"
constexpr std::uint64_t kOptionMagic = 0x49484156454f5054ull; // "IHAVEOPT"
constexpr std::uint64_t kReplyMagic = 0x3e889045565a9ull;
constexpr std::uint32_t kRequestMagic = 0x25609513;
constexpr std::uint32_t kSimpleReplyMagic = 0x67446698;
constexpr std::uint16_t kFixedNewstyle = 1, kNoZeroes = 2;
constexpr std::uint32_t kOptExportName = 1, kOptAbort = 2, kOptGo = 7;
constexpr std::uint32_t kRepAck = 1, kRepInfo = 3, kRepErrUnsupported = 0x80000001;
constexpr std::uint16_t kHasFlags = 1, kSendFlush = 4;
constexpr std::uint16_t kRead = 0, kWrite = 1, kDisconnect = 2, kFlush = 3;
constexpr std::uint32_t kEinval = 22;
constexpr std::uint64_t kSector = 512;

struct Closed {};

void SendAll(int fd, const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(fd, at, size, MSG_NOSIGNAL);
        if (sent <= 0 && errno != EINTR)
            throw Closed{};
        if (sent > 0) {
            at += sent;
            size -= static_cast<std::size_t>(sent);
        }
    }
}

void ReceiveAll(int fd, void* data, std::size_t size) {
    char* at = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::recv(fd, at, size, 0);
        if (got <= 0 && errno != EINTR)
            throw Closed{};
        if (got > 0) {
            at += got;
            size -= static_cast<std::size_t>(got);
        }
    }
}

template <typename T> T Receive(int fd) {
    T value;
    ReceiveAll(fd, &value, sizeof value);
    if constexpr (sizeof(T) == 2)
        return be16toh(value);
    else if constexpr (sizeof(T) == 4)
        return be32toh(value);
    else
        return be64toh(value);
}

// Appends `value` in network order.
template <typename T> void Put(std::string& out, T value) {
    if constexpr (sizeof(T) == 2)
        value = htobe16(value);
    else if constexpr (sizeof(T) == 4)
        value = htobe32(value);
    else
        value = htobe64(value);
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string OptionReply(std::uint32_t option, std::uint32_t type, const std::string& data = {}) {
    std::string reply;
    Put(reply, kReplyMagic);
    Put(reply, option);
    Put(reply, type);
    Put(reply, static_cast<std::uint32_t>(data.size()));
    return reply + data;
}

} // namespace

FaultyStick::FaultyStick(std::string socketPath, FaultyStickSetup setup)
    : socketPath_(std::move(socketPath)), setup_(std::move(setup)) {
    backing_ = ::open(setup_.backing.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (backing_ < 0 || ::ftruncate(backing_, static_cast<off_t>(setup_.realBytes)) != 0)
        throw std::runtime_error("cannot make the stick's flash " + setup_.backing);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long: " + socketPath_);
    std::strcpy(address.sun_path, socketPath_.c_str());
    ::unlink(socketPath_.c_str());
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot listen on " + socketPath_ + ": " + std::strerror(errno));
    server_ = std::thread([this] { Serve(); });
}

FaultyStick::~FaultyStick() {
    if (::write(stopPipe_[1], "x", 1) != 1)
        ::shutdown(listener_, SHUT_RDWR);
    server_.join();
    for (int fd : {listener_, stopPipe_[0], stopPipe_[1], backing_})
        ::close(fd);
    ::unlink(socketPath_.c_str());
}

void FaultyStick::Serve() {
    for (;;) {
        pollfd ready[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(ready, 2, -1) < 0 && errno != EINTR)
            return;
        if (ready[1].revents != 0)
            return;
        if (ready[0].revents == 0)
            continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        try {
            Session(connection);
        } catch (const Closed&) {
            // QEMU went (the stick was pulled out): wait for the next one.
        } catch (const std::exception&) {
            // The flash cannot be read or written: the stick stops answering, as a dead one does.
        }
        ::close(connection);
    }
}

void FaultyStick::Session(int connection) {
    std::string hello;
    Put(hello, kNbdMagic);
    Put(hello, kOptionMagic);
    Put(hello, static_cast<std::uint16_t>(kFixedNewstyle | kNoZeroes));
    SendAll(connection, hello.data(), hello.size());
    const auto clientFlags = Receive<std::uint32_t>(connection);
    // Options until the client asks for the export; structured replies, meta contexts and the
    // rest are refused, so the client uses simple replies.
    for (bool chosen = false; !chosen;) {
        if (Receive<std::uint64_t>(connection) != kOptionMagic)
            throw Closed{};
        const auto option = Receive<std::uint32_t>(connection);
        std::string data(Receive<std::uint32_t>(connection), '\0');
        ReceiveAll(connection, data.data(), data.size());
        std::string export_;
        Put(export_, setup_.reportedBytes);
        Put(export_, static_cast<std::uint16_t>(kHasFlags | kSendFlush));
        if (option == kOptGo) {
            std::string info;
            Put(info, static_cast<std::uint16_t>(0)); // NBD_INFO_EXPORT
            const std::string reply = OptionReply(option, kRepInfo, info + export_) + OptionReply(option, kRepAck);
            SendAll(connection, reply.data(), reply.size());
            chosen = true;
        } else if (option == kOptExportName) {
            const std::string reply = export_ + ((clientFlags & kNoZeroes) ? "" : std::string(124, '\0'));
            SendAll(connection, reply.data(), reply.size());
            chosen = true;
        } else if (option == kOptAbort) {
            throw Closed{};
        } else {
            const std::string reply = OptionReply(option, kRepErrUnsupported);
            SendAll(connection, reply.data(), reply.size());
        }
    }
    std::vector<char> data;
    for (;;) {
        if (Receive<std::uint32_t>(connection) != kRequestMagic)
            throw Closed{};
        Receive<std::uint16_t>(connection); // command flags
        const auto type = Receive<std::uint16_t>(connection);
        const auto handle = Receive<std::uint64_t>(connection);
        const auto offset = Receive<std::uint64_t>(connection);
        const auto length = Receive<std::uint32_t>(connection);
        data.resize(length);
        std::uint32_t error = 0;
        const bool inside = offset <= setup_.reportedBytes && length <= setup_.reportedBytes - offset;
        if (type == kWrite) {
            ReceiveAll(connection, data.data(), length);
            if (inside)
                Write(offset, data.data(), length);
            else
                error = kEinval;
        } else if (type == kRead) {
            if (inside)
                Read(offset, data.data(), length);
            else
                error = kEinval;
        } else if (type == kDisconnect) {
            throw Closed{};
        } else if (type != kFlush) {
            error = kEinval;
        }
        std::string reply;
        Put(reply, kSimpleReplyMagic);
        Put(reply, error);
        Put(reply, handle);
        if (type == kRead && error == 0)
            reply.append(data.data(), length);
        SendAll(connection, reply.data(), reply.size());
    }
}

void FaultyStick::Read(std::uint64_t offset, char* data, std::uint32_t length) const {
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t at = offset + done;
        const std::uint64_t piece = std::min<std::uint64_t>(length - done, setup_.realBytes - at % setup_.realBytes);
        if (at >= setup_.realBytes && setup_.fault == StickFault::DropsBeyond)
            std::memset(data + done, 0, piece);
        else if (::pread(backing_, data + done, piece, static_cast<off_t>(at % setup_.realBytes)) !=
                 static_cast<ssize_t>(piece))
            throw std::runtime_error("cannot read the stick's flash");
        done += piece;
    }
    if (setup_.fault != StickFault::GarblesMarkedSector)
        return;
    for (std::uint64_t sector = 0; sector < length; sector += kSector) {
        const char* begin = data + sector;
        const char* end = begin + std::min<std::uint64_t>(kSector, length - sector);
        const char* found = std::search(begin, end, setup_.marker.begin(), setup_.marker.end());
        if (found + setup_.marker.size() < end)
            data[found - data + static_cast<std::ptrdiff_t>(setup_.marker.size())] ^= 1;
    }
}

void FaultyStick::Write(std::uint64_t offset, const char* data, std::uint32_t length) const {
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t at = offset + done;
        const std::uint64_t piece = std::min<std::uint64_t>(length - done, setup_.realBytes - at % setup_.realBytes);
        const bool lost = at >= setup_.realBytes && setup_.fault == StickFault::DropsBeyond;
        if (!lost && ::pwrite(backing_, data + done, piece, static_cast<off_t>(at % setup_.realBytes)) !=
                         static_cast<ssize_t>(piece))
            throw std::runtime_error("cannot write the stick's flash");
        done += piece;
    }
}

} // namespace vornel::vm
