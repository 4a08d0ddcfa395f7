// Frame codec speed: encoding and decoding a 64 KiB body against a memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bench/bench_output.h"
#include "links/protocol_phy.h"

namespace {

constexpr unsigned kBody = 64 * 1024;

std::vector<uint8_t> makeBody()
{
    std::vector<uint8_t> b(kBody);
    for (unsigned i = 0; i + 1 < kBody; ++i)
        b[i] = uint8_t(i * 131 + 7);   // every byte value, stuffed ones included
    b[kBody - 1] = frame::xorOf(b.data(), kBody - 1);
    return b;
}

double nsPerIteration(std::chrono::steady_clock::duration d, benchmark::IterationCount n)
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count()) / double(n);
}

double g_memcpyNs = 0;

void BM_Memcpy64K(benchmark::State& state)
{
    std::vector<uint8_t> in = makeBody(), out(kBody);
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), kBody);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    g_memcpyNs = nsPerIteration(std::chrono::steady_clock::now() - t0, state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * kBody);
}
BENCHMARK(BM_Memcpy64K);

void BM_EncodeDecode64K(benchmark::State& state)
{
    std::vector<uint8_t> in = makeBody(), wire(frame::encodedCapacity(kBody));
    protocol_phy rx;
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        unsigned n = protocol_phy::data_re_transf_meaning(wire.data(), in.data(), kBody, nullptr);
        protocol_phy::Event e = protocol_phy::kNone;
        for (unsigned i = 0; i < n;)
            i += rx.receive(wire.data() + i, n - i, e);
        if (e != protocol_phy::kFrame || rx.bodyLength() != kBody)
            state.SkipWithError("frame lost");
        benchmark::DoNotOptimize(rx.body());
    }
    double ns = nsPerIteration(std::chrono::steady_clock::now() - t0, state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * kBody);
    if (g_memcpyNs > 0)
        state.counters["ratio_vs_memcpy"] = ns / g_memcpyNs;
}
BENCHMARK(BM_EncodeDecode64K);

}  // namespace

int main(int argc, char** argv)
{
    BenchOutput output(argc, argv);
    return output.run();
}
