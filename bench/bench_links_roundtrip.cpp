// A write-RAM and read-RAM round trip to the running TCP link over loopback, against a bare
// loopback echo of the same bytes.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>

#include <chrono>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_frames.h"
#include "bench/bench_output.h"
#include "bench/bench_root.h"
#include "core/global.h"
#include "core/zelrampara.h"
#include "links/networkmanage.h"
#include "links/protocol_phy.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint16_t kData = 256;

int connectTo(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendAll(int fd, const Bytes& b)
{
    size_t done = 0;
    while (done < b.size()) {
        ssize_t n = ::send(fd, b.data() + done, b.size() - done, 0);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

// Reads until one whole frame (ending in 0x5A) arrived.
bool readFrame(int fd)
{
    uint8_t buf[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        if (buf[n - 1] == frame::kEnd)
            return true;
    }
}

// Reads exactly n bytes.
bool readN(int fd, size_t n)
{
    uint8_t buf[4096];
    while (n > 0) {
        ssize_t got = ::recv(fd, buf, std::min(n, sizeof buf), 0);
        if (got <= 0)
            return false;
        n -= size_t(got);
    }
    return true;
}

Bytes writeFrame()
{
    Bytes p = {0x00, 0x04, 0, 0, uint8_t(kData), uint8_t(kData >> 8), 0, 0};
    for (unsigned i = 0; i < kData; ++i)
        p.push_back(uint8_t(i));
    return bench::commandFrame(0x60, p);
}
Bytes readFrameReq() { return bench::commandFrame(0x61, {0x00, 0x04, 0, 0, uint8_t(kData), uint8_t(kData >> 8), 0, 0}); }

// A bare echo server: what arrives goes straight back.
int startEcho()
{
    int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(lfd, 1);
    socklen_t len = sizeof a;
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread([lfd] {
        int c = ::accept(lfd, nullptr, nullptr);
        int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        uint8_t buf[4096];
        for (;;) {
            ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            ::send(c, buf, size_t(n), 0);
        }
        ::close(c);
    }).detach();
    return ntohs(a.sin_port);
}

// Each iteration times one round trip of both frames through the box's TCP link and one through
// a bare echo of the same bytes, back to back, so both see the same load of the machine. The
// ratio is taken between the fastest round trips of each: the floor of a path is what the code
// costs, while the spread above it is the scheduler's.
void BM_WriteReadRamOverTcp(benchmark::State& state)
{
    static int echo = connectTo(startEcho());
    static int link = connectTo(networkManage::pInstance()->port());
    const Bytes w = writeFrame(), r = readFrameReq();
    using Clock = std::chrono::steady_clock;
    Clock::duration bestLink = Clock::duration::max(), bestEcho = Clock::duration::max();
    for (auto _ : state) {
        auto t0 = Clock::now();
        sendAll(link, w);
        const bool wrote = readFrame(link);
        sendAll(link, r);
        const bool read = readFrame(link);
        auto t1 = Clock::now();
        sendAll(echo, w);
        readN(echo, w.size());
        sendAll(echo, r);
        readN(echo, r.size());
        auto t2 = Clock::now();
        if (!wrote || !read) {
            state.SkipWithError("no reply");
            break;
        }
        bestLink = std::min(bestLink, t1 - t0);
        bestEcho = std::min(bestEcho, t2 - t1);
    }
    const auto ns = [](Clock::duration d) { return double(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count()); };
    if (bestEcho > Clock::duration::zero() && bestEcho != Clock::duration::max()) {
        state.counters["best_link_ns"] = ns(bestLink);
        state.counters["best_echo_ns"] = ns(bestEcho);
        state.counters["ratio_vs_echo"] = ns(bestLink) / ns(bestEcho);
    }
}
BENCHMARK(BM_WriteReadRamOverTcp)->Iterations(3000);

}  // namespace

int main(int argc, char** argv)
{
    BenchOutput output(argc, argv);
    BenchRoot root;
    if (!root.ok())
        return 1;
    // Every thread of the program (the link's, the echo's, the client) on one processor: where the
    // scheduler places a thread on a busy machine would otherwise weigh more than the code.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);
    setenv("ZEL_TCP_PORT", "0", 1);
    g_debugSwitch = BenchOutput::debugSwitch();
    QCoreApplication app(argc, argv);
    ZelRamPara::pInstance();
    return output.run();
}
