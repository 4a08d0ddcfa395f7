// The TCP command port's sockets: one listening socket and any number of clients, served by
// poll() from one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class TcpServer {
public:
    using DataFn = std::function<void(int fd, const uint8_t* data, unsigned length)>;
    using CloseFn = std::function<void(int fd)>;

    TcpServer() = default;
    ~TcpServer();

    // Listens on all interfaces (port 0 picks a free port). 0, or -1 when it failed.
    int listenOn(int port);
    int port() const { return port_; }
    bool listening() const { return listenFd_ >= 0; }

    // Waits up to `timeoutMs` for activity, accepts new clients, hands every chunk read to
    // `onData` and drops clients that closed.
    void pollOnce(int timeoutMs, const DataFn& onData, const CloseFn& onClose);
    bool hasClient(int fd) const;
    size_t clientCount() const { return clients_.size(); }

    // Writes all bytes (a client that cannot take them is dropped at its next poll). 0 or -1.
    static int sendAll(int fd, const uint8_t* data, unsigned length);

    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

private:
    static constexpr unsigned kReadChunk = 16384;
    int listenFd_ = -1;
    int port_ = 0;
    std::vector<int> clients_;
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(kReadChunk);
};
