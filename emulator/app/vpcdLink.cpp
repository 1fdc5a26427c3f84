#include "vpcdLink.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kvtoken {

namespace {

sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

std::runtime_error systemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// vpcd sends a command's length and its bytes in two writes: with Nagle on
// its side and delayed ACK on ours every command would wait for the ACK
// timer (about 48 ms). No Nagle on our answers, and an immediate ACK before
// every read, keep a command well under a millisecond.
void setQuickAck(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

void setNoDelay(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

StopSignals::StopSignals()
{
    const sigset_t set = stopSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0)
        throw systemError("signalfd");
}

// The signals stay blocked: one that arrives while the token shuts down
// must not kill it before it has closed its connection.
StopSignals::~StopSignals()
{
    close(fd_);
}

bool StopSignals::takeRequest() const
{
    signalfd_siginfo info;
    return read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}

bool StopSignals::wait(std::chrono::milliseconds timeout) const
{
    pollfd watch{fd_, POLLIN, 0};
    return poll(&watch, 1, static_cast<int>(timeout.count())) > 0 && takeRequest();
}

std::optional<VpcdConnection> VpcdConnection::open(const std::string& host, int port, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses); rc != 0) {
        error = gai_strerror(rc);
        return std::nullopt;
    }
    int fd = -1;
    for (addrinfo* address = addresses; address && fd < 0; address = address->ai_next) {
        fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (fd >= 0 && connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            error = std::strerror(errno);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(addresses);
    if (fd < 0)
        return std::nullopt;
    setNoDelay(fd);
    return VpcdConnection(fd);
}

VpcdConnection::VpcdConnection(VpcdConnection&& other) noexcept : fd_(other.fd_)
{
    other.fd_ = -1;
}

VpcdConnection::~VpcdConnection()
{
    if (fd_ >= 0)
        close(fd_);
}

bool VpcdConnection::receiveExactly(uint8_t* into, size_t count)
{
    while (count > 0) {
        setQuickAck(fd_);
        const ssize_t n = recv(fd_, into, count, 0);
        if (n == 0)
            return false;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ECONNRESET)
                return false;
            throw systemError("reading from vpcd");
        }
        into += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

std::optional<Bytes> VpcdConnection::receive()
{
    uint8_t header[2];
    if (!receiveExactly(header, sizeof header))
        return std::nullopt;
    Bytes message(static_cast<size_t>(header[0] << 8 | header[1]));
    if (!receiveExactly(message.data(), message.size()))
        return std::nullopt;
    return message;
}

bool VpcdConnection::send(const Bytes& message)
{
    // Length and bytes leave in one write, so they travel in one segment.
    Bytes frame{static_cast<uint8_t>(message.size() >> 8), static_cast<uint8_t>(message.size())};
    frame.insert(frame.end(), message.begin(), message.end());
    size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET))
            return false;
        if (n < 0)
            throw systemError("writing to vpcd");
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace kvtoken
