#include "links/link_env.h"
#include "links/tcpserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sys/time.h>

#include "core/global.h"
#include "core/utils.h"

TcpServer::~TcpServer()
{
    for (int fd : clients_)
        ::close(fd);
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

int TcpServer::listenOn(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        writeLogMsg(LOG_FAILURE, "tcp bind/listen");
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listenFd_ = fd;
    return 0;
}

bool TcpServer::hasClient(int fd) const
{
    return std::find(clients_.begin(), clients_.end(), fd) != clients_.end();
}

void TcpServer::pollOnce(int timeoutMs, const DataFn& onData, const CloseFn& onClose)
{
    if (listenFd_ < 0) {
        ::usleep(unsigned(timeoutMs) * 1000);
        return;
    }
    std::vector<pollfd> fds;
    fds.push_back({listenFd_, POLLIN, 0});
    for (int c : clients_)
        fds.push_back({c, POLLIN, 0});
    int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0)
        return;
    if (fds[0].revents & POLLIN) {
        int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
            int on = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            // A client that stops reading cannot hold the link: its sends give up.
            timeval tv{2, 0};
            ::setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            clients_.push_back(c);
        }
    }
    for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        int c = fds[i].fd;
        ssize_t got = ::recv(c, buf_.data(), buf_.size(), 0);
        if (got > 0) {
            onData(c, buf_.data(), unsigned(got));
            continue;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        onClose(c);
        ::close(c);
        clients_.erase(std::remove(clients_.begin(), clients_.end(), c), clients_.end());
    }
}

int TcpServer::sendAll(int fd, const uint8_t* data, unsigned length)
{
    unsigned done = 0;
    while (done < length) {
        ssize_t n = ::send(fd, data + done, length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += unsigned(n);
    }
    return 0;
}
