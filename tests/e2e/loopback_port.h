// A loopback port nobody listens on, for a process under test to bind.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

namespace e2e {

// Whether a socket of `type` can bind `port` on 127.0.0.1 now (0: any port; `port` gets the
// one the system gave).
inline bool bindable(int& port, int type)
{
    int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    socklen_t len = sizeof a;
    ok = ok && ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    port = ntohs(a.sin_port);
    ::close(s);
    return ok;
}

// A port on 127.0.0.1 free for both TCP and UDP, taken below the system's ephemeral range and
// claimed for the rest of the test process by a lock on a file of its own. A box binds its ports
// only after its start pause: a port the system gave out and took back could meanwhile be given to
// a test running beside it, whose box would then answer this test's calls.
inline int freePort(int type = SOCK_STREAM)
{
    static std::mt19937 pick{std::random_device{}()};
    constexpr int kFirst = 20000, kCount = 12000;
    const std::string claims = "/tmp/zel-e2e-ports";
    ::mkdir(claims.c_str(), 01777);
    for (int tries = 0; tries < 1000; ++tries) {
        int port = kFirst + int(pick() % kCount);
        const std::string claim = claims + "/" + std::to_string(port);
        const int fd = ::open(claim.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            continue;
        int udp = port;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && bindable(port, SOCK_STREAM) && bindable(udp, SOCK_DGRAM))
            return port;   // the descriptor stays open: the claim ends with the process
        ::close(fd);
    }
    int port = 0;
    bindable(port, type);
    return port;
}

}  // namespace e2e
