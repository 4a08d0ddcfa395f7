// How long a status request of one client waits for its reply, over TCP and over UDP, and an
// FPGA register read over TCP (it takes the SPI bus), while another client's flash work runs: an
// erase of the video chip's flash, an erase of the flash behind FPGA 0, a font reload (register
// 0x0E, bit 3), a 64 KB write into the flash behind FPGA 1 or into the video chip's flash;
// against the same requests with nothing else going on. A new piece of work starts as soon as one
// ends. Besides the largest and the mean, the 99th percentile of the TCP status replies. A page
// program of the flash behind the FPGAs takes the simulated board's 0.7 ms (a 64 KB write about
// 0.18 s), one of the chip's flash 1 ms counted in board ticks of 10 ms. The simulated chip flash takes 40 ms a 4 KB unit (board ticks from the
// wall clock), so an erase of 64 units lasts about 2.6 s; the flash behind the FPGAs and the
// chip's font copy take the simulated board's durations (sim::useBoardFlashTimes: 150 ms a 64 KB
// unit, so 16 units last 2.4 s; 10 MB/s, so the four fonts, 13.3 MB, take 1.3 s).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/bench_frames.h"
#include "bench/bench_output.h"
#include "bench/bench_root.h"
#include "core/global.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "links/networkmanage.h"
#include "links/protocol_phy.h"
#include "links/udpnetmanage.h"
#include "sim/fpga_model.h"
#include "sim/sim_board.h"
#include "sim/sim_clock.h"
#include "sim/video_chip.h"
#include "sim/video_chip_gfx.h"
#include "tests/support/video_engine.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kEraseMsPerUnit = 40;
constexpr uint16_t kEraseUnits = 64;

constexpr uint16_t kFpgaEraseUnits = 16;

enum class Work { None, ChipErase, FpgaErase, FontReload, FpgaWrite, ChipWrite };

constexpr uint16_t kWriteLength = 0xFFFF;   // the most one write carries: 256 pages

// A write of kWriteLength bytes to `device` at 0x200000.
Bytes writeFrame(uint8_t device)
{
    Bytes p = {0x00, 0x00, 0x20, 0x00, uint8_t(kWriteLength), uint8_t(kWriteLength >> 8), device, 0};
    for (unsigned i = 0; i < kWriteLength; ++i)
        p.push_back(uint8_t(i * 7));
    return bench::commandFrame(0x71, p);
}

Bytes workFrame(Work w)
{
    switch (w) {
    case Work::ChipErase:   // 64 units of 4 KB of the video chip's flash from 0x100000
        return bench::commandFrame(0x70, {0x00, 0x00, 0x10, 0x00, uint8_t(kEraseUnits), 0, 4, 1});
    case Work::FpgaErase:   // 16 units of 64 KB of the flash behind FPGA 0 from 0x100000
        return bench::commandFrame(0x70, {0x00, 0x00, 0x10, 0x00, uint8_t(kFpgaEraseUnits), 0, 2, 4});
    case Work::FpgaWrite:
        return writeFrame(3);
    case Work::ChipWrite:
        return writeFrame(4);
    default:                // the font reload
        return bench::commandFrame(0xA0, {0x0E, 0x08, 0, 0x08});
    }
}
Bytes statusFrame() { return bench::commandFrame(0xA1, {40, 1, 0}); }
Bytes fpgaRegisterFrame() { return bench::commandFrame(0xA1, {3, 1, 1}); }

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    return a;
}

int tcpTo(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int udpTo(int port)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

// Waits up to `ms` for a whole frame on `fd` (TCP or UDP); false when none came.
bool frameWithin(int fd, int ms)
{
    uint8_t buf[4096];
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left < 0 || ::poll(&p, 1, int(left)) <= 0)
            return false;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        if (buf[n - 1] == frame::kEnd)
            return true;
    }
}

struct Links {
    int eraser = tcpTo(networkManage::pInstance()->port());
    int tcp = tcpTo(networkManage::pInstance()->port());
    int udp = udpTo(udpnetManage::pInstance()->port());
    bool erasing = false;
    unsigned erases = 0;

    // Starts a piece of `work` when none runs; takes the reply of one that ended.
    void keepWorking(Work work)
    {
        if (erasing && frameWithin(eraser, 0))
            erasing = false;
        if (!erasing) {
            const Bytes e = workFrame(work);
            (void)!::send(eraser, e.data(), e.size(), 0);
            erasing = true;
            ++erases;
        }
    }
};

Links& links()
{
    static Links l;
    return l;
}

// Times one request; negative when no reply came within 15 s.
double replyMs(int fd, const Bytes& s = statusFrame())
{
    const auto t0 = Clock::now();
    (void)!::send(fd, s.data(), s.size(), 0);
    if (!frameWithin(fd, 15000))
        return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void statusReplies(benchmark::State& state, Work work)
{
    Links& l = links();
    if (l.eraser < 0 || l.tcp < 0) {
        state.SkipWithError("no link");
        return;
    }
    // The work of the previous benchmark ends first (its reply taken).
    if (l.erasing && !frameWithin(l.eraser, 30000)) {
        state.SkipWithError("the previous work did not end");
        return;
    }
    l.erasing = false;
    l.erases = 0;
    double tcpMax = 0, udpMax = 0, fpgaMax = 0, tcpSum = 0, udpSum = 0;
    std::vector<double> tcpTimes;
    int64_t n = 0;
    for (auto _ : state) {
        if (work != Work::None)
            l.keepWorking(work);
        const double t = replyMs(l.tcp), u = replyMs(l.udp), f = replyMs(l.tcp, fpgaRegisterFrame());
        if (t < 0 || u < 0 || f < 0) {
            state.SkipWithError("no reply");
            break;
        }
        tcpMax = std::max(tcpMax, t);
        udpMax = std::max(udpMax, u);
        fpgaMax = std::max(fpgaMax, f);
        tcpSum += t;
        udpSum += u;
        tcpTimes.push_back(t);
        ++n;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (n > 0) {
        state.counters["tcp_max_ms"] = tcpMax;
        state.counters["udp_max_ms"] = udpMax;
        state.counters["fpga_reg_max_ms"] = fpgaMax;
        state.counters["tcp_mean_ms"] = tcpSum / double(n);
        std::sort(tcpTimes.begin(), tcpTimes.end());
        state.counters["tcp_p99_ms"] = tcpTimes[std::min(tcpTimes.size() - 1, tcpTimes.size() * 99 / 100)];
        state.counters["udp_mean_ms"] = udpSum / double(n);
        state.counters["works"] = double(l.erases);
    }
}

void BM_StatusRepliesIdle(benchmark::State& state) { statusReplies(state, Work::None); }
void BM_StatusRepliesDuringErase(benchmark::State& state) { statusReplies(state, Work::ChipErase); }
void BM_StatusRepliesDuringFpgaFlashErase(benchmark::State& state) { statusReplies(state, Work::FpgaErase); }
void BM_StatusRepliesDuringFontReload(benchmark::State& state) { statusReplies(state, Work::FontReload); }
void BM_StatusRepliesDuringFpgaFlashWrite64K(benchmark::State& state) { statusReplies(state, Work::FpgaWrite); }
void BM_StatusRepliesDuringChipFlashWrite64K(benchmark::State& state) { statusReplies(state, Work::ChipWrite); }
BENCHMARK(BM_StatusRepliesIdle)->Iterations(100)->UseRealTime();
BENCHMARK(BM_StatusRepliesDuringErase)->Iterations(300)->UseRealTime();
BENCHMARK(BM_StatusRepliesDuringFpgaFlashErase)->Iterations(300)->UseRealTime();
BENCHMARK(BM_StatusRepliesDuringFontReload)->Iterations(300)->UseRealTime();
BENCHMARK(BM_StatusRepliesDuringFpgaFlashWrite64K)->Iterations(300)->UseRealTime();
BENCHMARK(BM_StatusRepliesDuringChipFlashWrite64K)->Iterations(300)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    BenchOutput output(argc, argv);
    BenchRoot root;
    if (!root.ok())
        return 1;
    setenv("ZEL_TCP_PORT", "0", 1);
    setenv("ZEL_UDP_PORT", "0", 1);
    g_debugSwitch = BenchOutput::debugSwitch();
    QCoreApplication app(argc, argv);
    ZelRamPara::pInstance();
    const auto start = Clock::now();
    sim::setTickSource([start] {
        return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() / 10);
    });
    sim::VideoChipModel& chip = sim::attachVideoChip();
    sim::attachFpgas();
    fpga_manage::pInstance();
    sim::useBoardFlashTimes();
    c331_manage* e = zeltest::newEngine();
    if (e->initialize(false) != 0)
        return 1;
    e->usleepFn = [](unsigned us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); };
    chip.withGfx([](sim::VideoChipGfx& g) {
        g.setEraseTime(kEraseMsPerUnit);
        g.setProgramTime(1);
        return 0;
    });
    return output.run();
}
