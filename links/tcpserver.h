// The TCP command port's sockets: one listening socket and up to kMaxClients clients, served by
// poll() from one thread that never blocks on a client.
//
// Replies are written without waiting; what a client does not take at once waits in its own send
// queue and goes out as the client reads, in order. A client is dropped when its queue would pass
// kMaxQueuedBytes, when queued replies make no progress for kStallTicks, or when nothing at all
// moves on its connection for kIdleTicks. A connection beyond kMaxClients, or beyond
// kMaxPerAddress from one address, takes the place of a client (of that address) that never sent a
// whole frame, or else of the one whose last whole frame is oldest: stray bytes are no traffic
// there. So silent or babbling connections cannot lock the PC software out, nor can one address
// take every place. When the process runs out of descriptors the listening socket
// rests for kAcceptBackoffMs instead of waking the thread again and again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

class TcpServer {
public:
    using DataFn = std::function<void(int fd, const uint8_t* data, unsigned length)>;
    using CloseFn = std::function<void(int fd)>;

    static constexpr unsigned kMaxClients = 64;
    static constexpr unsigned kMaxPerAddress = 8;
    static constexpr unsigned kMaxQueuedBytes = 256 * 1024;
    static constexpr unsigned kStallTicks = 3000;     // 30 s with replies waiting and none taken
    static constexpr unsigned kIdleTicks = 60000;     // 10 min without any traffic
    static constexpr int kBacklog = 128;
    static constexpr unsigned kAcceptBurst = 64;      // accepts per wakeup
    static constexpr int kAcceptBackoffMs = 100;

    TcpServer() = default;
    ~TcpServer();

    // Listens (port 0 picks a free port). 0, or -1 when it failed.
    int listenOn(int port);
    int port() const { return port_.load(); }
    bool listening() const { return listenFd_ >= 0; }

    // Waits up to `timeoutMs` for activity, accepts new clients, hands every chunk read to
    // `onData`, sends what clients can take of their queues and drops the clients that closed,
    // overflowed or went quiet. Nothing is read of a client `held` names: its bytes wait in the
    // connection (one that breaks meanwhile is dropped).
    using HeldFn = std::function<bool(int fd)>;
    void pollOnce(int timeoutMs, const DataFn& onData, const CloseFn& onClose, const HeldFn& held = {});
    // A signalled stop descriptor ends pollOnce's wait.
    void setStopFd(int fd) { stopFd_ = fd; }
    // Readable from any thread.
    size_t clientCount() const { return clientCount_.load(); }

    // Sends to a client without blocking; what the client cannot take now is queued. False when
    // the client is unknown or has been dropped (its queue would overflow).
    bool send(int fd, const uint8_t* data, unsigned length);

    // Accepts that failed for want of descriptors or memory (each followed by a rest).
    unsigned acceptFailures() const { return acceptFailures_.load(); }
    // The client sent a whole frame: it is no longer the first to make room for a newcomer, and
    // its quiet time starts again.
    void noteFrame(int fd);
    // The peer's IPv4 address (host order) of a client, 0 when unknown. On the polling thread.
    uint32_t addressOf(int fd) const;

    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

private:
    struct Client {
        int fd = -1;
        uint32_t address = 0;         // the peer's IPv4 address
        std::vector<uint8_t> queue;   // bytes not yet taken by the client
        size_t queueStart = 0;        // first unsent byte of `queue`
        unsigned lastTraffic = 0;     // tick of the last byte in or out
        unsigned lastProgress = 0;    // tick the queue last moved (or began to wait)
        bool dropped = false;         // overflowed: closed at the end of this poll
        bool sentFrame = false;       // a whole frame came from it
        unsigned lastFrame = 0;       // tick of its last whole frame (of its connection before one)
        size_t pending() const { return queue.size() - queueStart; }
    };

    Client* find(int fd);
    void acceptClients(const CloseFn& onClose);
    size_t clientsFrom(uint32_t address) const;
    // Closes the client that makes room first, of `address` only when `from` is set.
    void makeRoom(const CloseFn& onClose, const uint32_t* from);
    bool flush(Client& c);
    void readFrom(Client& c, const DataFn& onData);
    bool timedOut(const Client& c) const;
    void reap(const CloseFn& onClose);
    int pollTimeout(int timeoutMs) const;

    static constexpr unsigned kReadChunk = 16384;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::atomic<int> port_{0};   // read by other threads; set late when the port was taken
    std::vector<Client> clients_;
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(kReadChunk);
    int64_t acceptRestUntilMs_ = 0;   // monotonic ms; the listening socket rests until then
    std::atomic<size_t> clientCount_{0};
    std::atomic<unsigned> acceptFailures_{0};
};
