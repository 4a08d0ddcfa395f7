// The UDP command port's socket: datagrams in, replies to the sender's port at the reply address
// (the limited broadcast on the board, loopback on the simulated board).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <vector>

class UdpServer {
public:
    UdpServer() = default;
    ~UdpServer();

    // Binds all interfaces (port 0 picks a free port). 0, or -1 when it failed.
    int bindOn(int port);
    int port() const { return port_.load(); }
    bool bound() const { return fd_.load() >= 0; }

    // Waits up to `timeoutMs` for one datagram; its length (0 when none), its sender in `from`.
    // A signalled stop descriptor ends the wait.
    unsigned receive(int timeoutMs, sockaddr_in& from);
    void setStopFd(int fd) { stopFd_ = fd; }
    const uint8_t* data() const { return buf_.data(); }

    // Sends to the reply address at the port of `peer`.
    int replyTo(const sockaddr_in& peer, const uint8_t* data, unsigned length);

    UdpServer(const UdpServer&) = delete;
    UdpServer& operator=(const UdpServer&) = delete;

private:
    std::atomic<int> fd_{-1};      // bound late when the port was taken at start
    int stopFd_ = -1;
    std::atomic<int> port_{0};
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(65536);
};
