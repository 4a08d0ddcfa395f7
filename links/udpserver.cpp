#include "links/udpserver.h"

#include <arpa/inet.h>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "core/utils.h"
#include "links/link_env.h"
#include "links/link_thread.h"

UdpServer::~UdpServer()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int UdpServer::bindOn(int port)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        writeLogMsg(LOG_FAILURE, "udp socket");
        return -1;
    }
    // No SO_REUSEADDR: on a datagram socket it would let a second program share the port
    // unnoticed instead of this bind failing.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(linkenv::listenAddress());
    a.sin_port = htons(uint16_t(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int err = errno;   // for the caller's report
        writeLogMsg(LOG_FAILURE, "udp bind");
        ::close(fd);
        errno = err;
        return -1;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    fd_ = fd;
    return 0;
}

unsigned UdpServer::receive(int timeoutMs, sockaddr_in& from)
{
    if (!waitReadable(fd_, stopFd_, timeoutMs))
        return 0;
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buf_.data(), buf_.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    return n > 0 ? unsigned(n) : 0;
}

int UdpServer::replyTo(const sockaddr_in& peer, const uint8_t* data, unsigned length)
{
    if (fd_ < 0)
        return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(linkenv::udpReplyAddress());
    to.sin_port = peer.sin_port;
    ssize_t n = ::sendto(fd_, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n == ssize_t(length) ? 0 : -1;
}

// ---- UdpReplyBudget ------------------------------------------------------------------------------

namespace {
// The key of the shared allowance of senders past kSenders: no sender has address 0.0.0.0.
constexpr uint32_t kOtherSenders = 0;
}  // namespace

UdpReplyBudget::Sender& UdpReplyBudget::senderAt(uint32_t sender, unsigned now, uint32_t& key)
{
    if (now - secondStart_ >= kSecondTicks) {
        senders_.clear();
        total_ = 0;
        secondStart_ = now;
    }
    key = senders_.size() >= kSenders && !senders_.count(sender) ? kOtherSenders : sender;
    return senders_[key];
}

void UdpReplyBudget::startDatagram(uint32_t sender, unsigned now)
{
    datagramBytes_ = 0;
    spent_ = !fits(senderAt(sender, now, current_), 1);
}

bool UdpReplyBudget::take(unsigned length)
{
    Sender& s = senders_[current_];
    if (spent_ || datagramBytes_ + length > kPerDatagram || !fits(s, length)) {
        spent_ = true;
        return false;
    }
    datagramBytes_ += length;
    s.bytes += length;
    total_ += length;
    return true;
}

bool UdpReplyBudget::takeFor(uint32_t sender, unsigned length, unsigned now)
{
    uint32_t key;
    Sender& s = senderAt(sender, now, key);
    if (!fits(s, length))
        return false;
    s.bytes += length;
    total_ += length;
    return true;
}

bool UdpReplyBudget::firstCut()
{
    Sender& s = senders_[current_];
    if (!spent_ || s.cutSaid)
        return false;
    s.cutSaid = true;
    return true;
}
