#pragma once

#include "bytes.h"

#include <chrono>
#include <optional>
#include <string>

namespace kvtoken {

// SIGINT and SIGTERM, blocked and delivered through a descriptor, so the
// serving loop can wait for vpcd and for a stop request in one poll.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int fd() const { return fd_; }
    // Takes a stop request that has arrived; false when none has.
    bool takeRequest() const;
    // Waits up to timeout for a stop request and takes it.
    bool wait(std::chrono::milliseconds timeout) const;

private:
    int fd_;
};

// The card's side of one vpcd connection: frames of a 2-byte big-endian
// length and that many bytes, both ways.
class VpcdConnection {
public:
    // One attempt; no value when nothing listens (the reason in error).
    static std::optional<VpcdConnection> open(const std::string& host, int port, std::string& error);
    VpcdConnection(VpcdConnection&& other) noexcept;
    ~VpcdConnection();
    VpcdConnection(const VpcdConnection&) = delete;
    VpcdConnection& operator=(const VpcdConnection&) = delete;
    VpcdConnection& operator=(VpcdConnection&&) = delete;

    int fd() const { return fd_; }
    // One message; no value when vpcd closed the connection.
    std::optional<Bytes> receive();
    // False when vpcd has gone.
    bool send(const Bytes& message);

private:
    explicit VpcdConnection(int fd) : fd_(fd) {}
    bool receiveExactly(uint8_t* into, size_t count);

    int fd_;
};

}  // namespace kvtoken
