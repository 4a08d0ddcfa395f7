#include "links/tcpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "core/global.h"
#include "core/utils.h"
#include "links/link_env.h"
#include "links/link_thread.h"

namespace {

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The process (or the system) is out of descriptors or memory: accepting again at once would
// fail the same way.
bool outOfResources(int err) { return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM; }

}  // namespace

TcpServer::~TcpServer()
{
    for (const Client& c : clients_)
        ::close(c.fd);
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

int TcpServer::listenOn(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        writeLogMsg(LOG_FAILURE, "tcp socket");
        return -1;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(linkenv::listenAddress());
    a.sin_port = htons(uint16_t(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, kBacklog) != 0) {
        const int err = errno;   // for the caller's report
        writeLogMsg(LOG_FAILURE, "tcp bind/listen");
        ::close(fd);
        errno = err;
        return -1;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listenFd_ = fd;
    return 0;
}

TcpServer::Client* TcpServer::find(int fd)
{
    auto it = std::find_if(clients_.begin(), clients_.end(), [fd](const Client& c) { return c.fd == fd; });
    return it == clients_.end() ? nullptr : &*it;
}

uint32_t TcpServer::addressOf(int fd) const
{
    auto it = std::find_if(clients_.begin(), clients_.end(), [fd](const Client& c) { return c.fd == fd; });
    return it == clients_.end() ? 0 : it->address;
}

int TcpServer::pollTimeout(int timeoutMs) const
{
    if (acceptRestUntilMs_ == 0)
        return timeoutMs;
    int64_t rest = acceptRestUntilMs_ - nowMs();
    return int(std::max<int64_t>(0, std::min<int64_t>(timeoutMs, rest)));
}

void TcpServer::pollOnce(int timeoutMs, const DataFn& onData, const CloseFn& onClose, const HeldFn& held)
{
    if (listenFd_ < 0) {
        waitReadable(-1, stopFd_, timeoutMs);
        return;
    }
    if (acceptRestUntilMs_ != 0 && nowMs() >= acceptRestUntilMs_)
        acceptRestUntilMs_ = 0;
    const bool accepting = acceptRestUntilMs_ == 0;
    std::vector<pollfd> fds;
    fds.reserve(clients_.size() + 2);
    for (const Client& c : clients_) {
        // A held client's bytes stay unread, but its going away (even a half-close) is seen.
        const short in = held && held(c.fd) ? POLLRDHUP : POLLIN;
        fds.push_back({c.fd, short(in | (c.pending() ? POLLOUT : 0)), 0});
    }
    const size_t listenAt = fds.size();
    if (accepting)
        fds.push_back({listenFd_, POLLIN, 0});
    if (stopFd_ >= 0)
        fds.push_back({stopFd_, POLLIN, 0});
    int n = ::poll(fds.data(), fds.size(), pollTimeout(timeoutMs));
    if (n > 0) {
        // Clients first: the list must not grow while their data is handled.
        const size_t known = clients_.size();
        for (size_t i = 0; i < known; ++i) {
            Client& c = clients_[i];
            if ((fds[i].revents & POLLOUT) && !c.dropped)
                flush(c);
            if (!(fds[i].events & POLLIN)) {
                // Gone while held, as a read would find it at the end of the bytes: what it sent
                // behind its held command, still unread, is not carried out.
                if (fds[i].revents & (POLLHUP | POLLERR | POLLRDHUP))
                    c.dropped = true;
                continue;
            }
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && !c.dropped)
                readFrom(c, onData);
        }
    }
    const bool newcomers = n > 0 && accepting && (fds[listenAt].revents & POLLIN);
    // Clients that went away leave before newcomers are counted against the limit: a burst of
    // closed connections must not get a live client refused.
    reap(onClose);
    if (newcomers)
        acceptClients(onClose);
}

void TcpServer::noteFrame(int fd)
{
    if (Client* c = find(fd)) {
        c->sentFrame = true;
        c->lastFrame = G_timeTicks.load();
    }
}

size_t TcpServer::clientsFrom(uint32_t address) const
{
    auto from = [address](const Client& c) { return c.address == address; };
    return size_t(std::count_if(clients_.begin(), clients_.end(), from));
}

// Closes the client that never sent a whole frame and has been connected longest, or else the one
// whose last whole frame is oldest.
void TcpServer::makeRoom(const CloseFn& onClose, const uint32_t* from)
{
    auto quiet = [](const Client& c) { return Utils::getTimeSpace(c.lastFrame); };
    auto before = [&](const Client& a, const Client& b) {
        if (a.sentFrame != b.sentFrame)
            return !a.sentFrame;   // one that never sent a frame goes first
        return quiet(a) > quiet(b);
    };
    auto victim = clients_.end();
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if ((from == nullptr || it->address == *from) && (victim == clients_.end() || before(*it, *victim)))
            victim = it;
    }
    if (victim == clients_.end())
        return;
    ZEL_DEBUG("\n tcp link: clients full, client %d makes room \n", victim->fd);
    onClose(victim->fd);
    ::close(victim->fd);
    clients_.erase(victim);
}

void TcpServer::acceptClients(const CloseFn& onClose)
{
    for (unsigned i = 0; i < kAcceptBurst; ++i) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        int c = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c < 0) {
            if (outOfResources(errno)) {
                ++acceptFailures_;
                acceptRestUntilMs_ = nowMs() + kAcceptBackoffMs;
            }
            return;   // EAGAIN: nobody else is waiting
        }
        const uint32_t address = ntohl(peer.sin_addr.s_addr);
        if (clientsFrom(address) >= kMaxPerAddress)
            makeRoom(onClose, &address);
        else if (clients_.size() >= kMaxClients)
            makeRoom(onClose, nullptr);
        int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Client client;
        client.fd = c;
        client.address = address;
        client.lastTraffic = client.lastProgress = client.lastFrame = G_timeTicks.load();
        clients_.push_back(std::move(client));
        clientCount_ = clients_.size();
    }
}

void TcpServer::readFrom(Client& c, const DataFn& onData)
{
    ssize_t got = ::recv(c.fd, buf_.data(), buf_.size(), 0);
    if (got > 0) {
        c.lastTraffic = G_timeTicks.load();
        onData(c.fd, buf_.data(), unsigned(got));
        return;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    c.dropped = true;   // closed by the peer, or broken
}

// Sends what the client takes of its queue now. False when the connection broke.
bool TcpServer::flush(Client& c)
{
    const unsigned now = G_timeTicks.load();   // before the peer can see the bytes and move on
    while (c.pending()) {
        ssize_t n = ::send(c.fd, c.queue.data() + c.queueStart, c.pending(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.queueStart += size_t(n);
            c.lastTraffic = c.lastProgress = now;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        c.dropped = true;
        return false;
    }
    if (c.pending() == 0) {
        c.queue.clear();
        c.queueStart = 0;
    } else if (c.queueStart >= c.queue.size() / 2) {
        c.queue.erase(c.queue.begin(), c.queue.begin() + std::ptrdiff_t(c.queueStart));
        c.queueStart = 0;
    }
    return true;
}

bool TcpServer::send(int fd, const uint8_t* data, unsigned length)
{
    Client* c = find(fd);
    if (!c || c->dropped)
        return false;
    if (c->pending() + length > kMaxQueuedBytes) {
        // A client that lets this much pile up is not reading: it goes, the others stay served.
        ZEL_DEBUG("\n tcp link: client %d does not read its replies, dropped \n", fd);
        c->dropped = true;
        return false;
    }
    if (c->pending() == 0)
        c->lastProgress = G_timeTicks.load();
    c->queue.insert(c->queue.end(), data, data + length);
    return flush(*c);
}

bool TcpServer::timedOut(const Client& c) const
{
    if (c.pending() && Utils::getTimeSpace(c.lastProgress) > kStallTicks)
        return true;
    return Utils::getTimeSpace(c.lastTraffic) > kIdleTicks;
}

void TcpServer::reap(const CloseFn& onClose)
{
    for (Client& c : clients_) {
        if (!c.dropped && !timedOut(c))
            continue;
        c.dropped = true;
        onClose(c.fd);
        ::close(c.fd);
    }
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [](const Client& c) { return c.dropped; }),
                   clients_.end());
    clientCount_ = clients_.size();
}
