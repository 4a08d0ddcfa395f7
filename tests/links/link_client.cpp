#include "link_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "links/message_deal.h"
#include "platform/platform.h"

namespace linktest {

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

Bytes withCheck(Bytes b)
{
    uint8_t x = 0;
    for (uint8_t v : b)
        x ^= v;
    b.push_back(x);
    return b;
}

Bytes body(uint8_t group, const Bytes& payload, uint16_t first, uint16_t second, uint8_t tag,
           uint8_t handling, uint8_t port)
{
    Bytes b = {uint8_t(first), uint8_t(first >> 8), uint8_t(second), uint8_t(second >> 8), 0x10, tag,
               handling, port, 0, group};
    b.insert(b.end(), payload.begin(), payload.end());
    return withCheck(b);
}

bool checkOk(const Bytes& body)
{
    uint8_t x = 0;
    for (uint8_t v : body)
        x ^= v;
    return !body.empty() && x == 0;
}

Bytes deal(uint8_t group, const Bytes& payload)
{
    Bytes b = body(group, payload);
    Bytes out(message_deal::kMaxReplyBody);
    unsigned n = message_deal::message_group_deal(b.data(), unsigned(b.size()), out.data(), unsigned(out.size()));
    out.resize(n);
    EXPECT_TRUE(checkOk(out));
    return out;
}

Bytes encode(const Bytes& body)
{
    Bytes w = {0xA5, 0xA5, 0xA5};
    for (uint8_t v : body) {
        if (v == 0xA5 || v == 0xA6) {
            w.push_back(0xA6);
            w.push_back(v == 0xA5 ? 2 : 1);
        } else if (v == 0x5A || v == 0x5B) {
            w.push_back(0x5B);
            w.push_back(v == 0x5A ? 2 : 1);
        } else {
            w.push_back(v);
        }
    }
    w.push_back(0x5A);
    return w;
}

std::vector<Bytes> decodeAll(const Bytes& wire)
{
    std::vector<Bytes> out;
    Bytes cur;
    bool in = false;
    for (size_t i = 0; i < wire.size(); ++i) {
        uint8_t v = wire[i];
        if (v == 0xA5) {
            in = true;
            cur.clear();
        } else if (!in) {
            continue;
        } else if (v == 0x5A) {
            out.push_back(cur);
            in = false;
        } else if ((v == 0xA6 || v == 0x5B) && i + 1 < wire.size()) {
            uint8_t e = wire[++i];
            cur.push_back(v == 0xA6 ? (e == 2 ? 0xA5 : 0xA6) : (e == 2 ? 0x5A : 0x5B));
        } else {
            cur.push_back(v);
        }
    }
    return out;
}

Bytes ramWrite(uint32_t address, const Bytes& data)
{
    Bytes p = {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24),
               uint8_t(data.size()), uint8_t(data.size() >> 8), 0, 0};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Bytes ramRead(uint32_t address, uint16_t length)
{
    return {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24),
            uint8_t(length), uint8_t(length >> 8), 0, 0};
}

Bytes regWrite(uint8_t reg, uint8_t mask, uint8_t value, uint8_t target) { return {reg, mask, target, value}; }
Bytes regRead(uint8_t reg, uint8_t count, uint8_t target) { return {reg, count, target}; }

bool isReply(const Bytes& reply) { return reply.size() > 11 && checkOk(reply); }

uint8_t status(const Bytes& reply) { return reply.size() > 10 ? reply[10] : 0xEE; }
Bytes replyData(const Bytes& reply)
{
    if (reply.size() < 12)
        return {};
    return Bytes(reply.begin() + 11, reply.end() - 1);
}

Bytes Client::receiveFrame(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // A complete frame in what has arrived so far?
        size_t start = pending_.size();
        for (size_t i = 0; i < pending_.size(); ++i) {
            if (pending_[i] == 0xA5) {
                start = i;
                break;
            }
        }
        if (start < pending_.size()) {
            for (size_t j = start; j < pending_.size(); ++j) {
                if (pending_[j] == 0x5A) {
                    Bytes one(pending_.begin() + long(start), pending_.begin() + long(j) + 1);
                    pending_.erase(pending_.begin(), pending_.begin() + long(j) + 1);
                    std::vector<Bytes> f = decodeAll(one);
                    return f.empty() ? Bytes{} : f.back();
                }
            }
        }
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0 || !readSome(pending_, left))
            return {};
    }
}

static bool pollRead(int fd, Bytes& out, int timeoutMs, bool datagram)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return false;
    uint8_t buf[70000];
    ssize_t n = datagram ? ::recv(fd, buf, sizeof buf, 0) : ::read(fd, buf, sizeof buf);
    if (n <= 0)
        return false;
    out.insert(out.end(), buf, buf + n);
    return true;
}

static void writeAll(int fd, const Bytes& w)
{
    size_t done = 0;
    while (done < w.size()) {
        ssize_t n = ::write(fd, w.data() + done, w.size() - done);
        if (n <= 0) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        done += size_t(n);
    }
}

TcpClient::TcpClient(int port, int receiveBuffer, uint32_t from)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    if (from != 0) {
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(from);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
TcpClient::~TcpClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}
void TcpClient::sendRaw(const Bytes& wire) { writeAll(fd_, wire); }
bool TcpClient::closedByPeer(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0)
            continue;
        uint8_t buf[65536];
        if (::recv(fd_, buf, sizeof buf, 0) <= 0)
            return true;
    }
    return false;
}
bool TcpClient::readSome(Bytes& out, int timeoutMs) { return pollRead(fd_, out, timeoutMs, false); }

UdpClient::UdpClient(int port, uint32_t from)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    localPort_ = ntohs(a.sin_port);
    if (from != 0 && from != INADDR_LOOPBACK) {
        sendFd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        a.sin_addr.s_addr = htonl(from);
        ::bind(sendFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    to_.sin_family = AF_INET;
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to_.sin_port = htons(uint16_t(port));
}
UdpClient::~UdpClient()
{
    ::close(fd_);
    if (sendFd_ >= 0)
        ::close(sendFd_);
}
void UdpClient::sendRaw(const Bytes& wire)
{
    ::sendto(sendFd_ >= 0 ? sendFd_ : fd_, wire.data(), wire.size(), 0, reinterpret_cast<const sockaddr*>(&to_),
             sizeof to_);
}
bool UdpClient::readSome(Bytes& out, int timeoutMs) { return pollRead(fd_, out, timeoutMs, true); }

PtyClient::PtyClient(const std::string& systemPath)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master_);
    ::unlockpt(master_);
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    std::string link = platform::rootPath(systemPath);
    std::filesystem::create_directories(std::filesystem::path(link).parent_path());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(::ptsname(master_), link);
}
PtyClient::~PtyClient() { ::close(master_); }
void PtyClient::sendRaw(const Bytes& wire) { writeAll(master_, wire); }
bool PtyClient::readSome(Bytes& out, int timeoutMs) { return pollRead(master_, out, timeoutMs, false); }

}  // namespace linktest
