// The UDP command port's socket: datagrams in, replies to the sender's port at the reply address
// (the limited broadcast on the board, loopback on the simulated board).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// How much the box sends back to UDP senders. A datagram's frames are handled until a reply would
// pass kPerDatagram bytes; that reply and the rest of the datagram are dropped. One sender (its
// address: a datagram's source proves nothing, and the replies go to the reply address at the
// sender's port) gets at most kPerSecond bytes of replies a second, the cards' answers included;
// kSenders senders are counted apart in a second and further ones share one such allowance. All
// senders together get at most kTotalPerSecond bytes a second: however many addresses a forger
// makes up, the box sends no more than that, and none of them more than one sender's share.
// Used by the link's thread only.
class UdpReplyBudget {
public:
    static constexpr unsigned kPerDatagram = 65536;
    static constexpr unsigned kPerSecond = 262144;
    static constexpr unsigned kTotalPerSecond = 4 * kPerSecond;
    static constexpr unsigned kSecondTicks = 100;
    // Senders kept apart within one second; further ones share one allowance.
    static constexpr size_t kSenders = 256;

    // A datagram of `sender` (address as on the wire) arrived at tick `now`.
    void startDatagram(uint32_t sender, unsigned now);
    // Takes `length` bytes for a reply to the current datagram: false, and nothing taken, when
    // they do not fit; the datagram is spent then.
    bool take(unsigned length);
    // Takes `length` bytes for a reply to `sender` outside a datagram (the cards' answer, the
    // answer of a command carried out apart).
    bool takeFor(uint32_t sender, unsigned length, unsigned now);
    // True once the current datagram's replies reached a limit: its other frames are dropped.
    bool spent() const { return spent_; }
    // True the first time in a second that the current sender's replies were cut.
    bool firstCut();

private:
    struct Sender {
        unsigned bytes = 0;
        bool cutSaid = false;
    };
    // The sender's entry in the second of tick `now`; its key in `key`.
    Sender& senderAt(uint32_t sender, unsigned now, uint32_t& key);
    // `length` more bytes fit the sender's share and the total.
    bool fits(const Sender& s, unsigned length) const
    {
        return s.bytes + length <= kPerSecond && total_ + length <= kTotalPerSecond;
    }

    std::unordered_map<uint32_t, Sender> senders_;   // this second's
    unsigned total_ = 0;                             // this second's, all senders
    unsigned secondStart_ = 0;
    uint32_t current_ = 0;   // key of the current datagram's sender
    unsigned datagramBytes_ = 0;
    bool spent_ = false;
};

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
