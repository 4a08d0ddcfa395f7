// SPI traffic of the video engine against the simulated chip: bytes sent per full bring-up, per
// committed window change and per window move, with the share of a move's register writes that
// rewrite a value the register already held (a rise shows redundant register writes).
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_output.h"
#include "bench/bench_root.h"
#include "core/global.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "platform/platform.h"
#include "sim/video_chip.h"

namespace {

struct Bench {
    sim::VideoChipModel* chip = nullptr;
    c331_manage* engine = nullptr;
    ZelRamPara* model = nullptr;

    Bench()
    {
        g_debugSwitch = BenchOutput::debugSwitch();
        platform::setBoard(platform::makeSimBoard());
        chip = &sim::attachVideoChip();
        model = ZelRamPara::pInstance();
        engine = new c331_manage();
        c331_manage::p_c331_manage = engine;
        engine->usleepFn = [](unsigned) {};
        engine->initialize(false);
        bringUp();
    }
    void bringUp()
    {
        engine->c331_setup_state = 0;
        for (int i = 0; i < 50 && engine->c331_setup_state < c331_manage::kSetupDone; ++i)
            engine->stepOnce();
        model->refresh_shadow();
    }
    static Bench& get()
    {
        static Bench b;
        return b;
    }
};

void BM_FullBringUp(benchmark::State& state)
{
    Bench& b = Bench::get();
    b.chip->clearLog();
    for (auto _ : state)
        b.bringUp();
    state.counters["spi_bytes"] =
        benchmark::Counter(static_cast<double>(b.chip->bytesReceived()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FullBringUp);

void BM_CommittedWindowChange(benchmark::State& state)
{
    Bench& b = Bench::get();
    b.chip->clearLog();
    uint16_t x = 0;
    for (auto _ : state) {
        x = x ? 0 : 16;
        ram_set_u16(b.model->ram_para, ramaddr::window(0) + ramaddr::kWinX, x);
        b.engine->para_chg_flag = 1;
        b.engine->stepOnce();
        b.model->refresh_shadow();
    }
    state.counters["spi_bytes"] =
        benchmark::Counter(static_cast<double>(b.chip->bytesReceived()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CommittedWindowChange);

// One move of window 0 committed through the image: the SPI bytes it costs, and the share of its
// register writes that write a register with the value it already held.
void BM_WindowMove(benchmark::State& state)
{
    Bench& b = Bench::get();
    uint64_t bytes = 0, writes = 0, redundant = 0;
    uint16_t x = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string held = b.chip->registerImage();   // bank by bank, 128 registers each
        b.chip->clearLog();
        x = x ? 0 : 16;
        ram_set_u16(b.model->ram_para, ramaddr::window(0) + ramaddr::kWinX, x);
        ram_set_u16(b.model->ram_para, ramaddr::window(0) + ramaddr::kWinWidth, 1900);
        state.ResumeTiming();
        b.engine->para_chg_flag = 1;
        b.engine->stepOnce();
        state.PauseTiming();
        b.model->refresh_shadow();
        bytes += b.chip->bytesReceived();
        for (const auto& w : b.chip->writes()) {
            if (w.addr == 0)
                continue;   // bank selects
            ++writes;
            char& was = held[size_t(w.bank) * 128 + w.addr];
            redundant += static_cast<uint8_t>(was) == w.value;
            was = static_cast<char>(w.value);
        }
        state.ResumeTiming();
    }
    state.counters["spi_bytes"] = benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
    state.counters["register_writes"] =
        benchmark::Counter(static_cast<double>(writes), benchmark::Counter::kAvgIterations);
    state.counters["rewrite_share"] = writes ? static_cast<double>(redundant) / static_cast<double>(writes) : 0.0;
}
BENCHMARK(BM_WindowMove);

void BM_CommittedPanelChange(benchmark::State& state)
{
    Bench& b = Bench::get();
    b.chip->clearLog();
    uint16_t w = 1920;
    for (auto _ : state) {
        w = w == 1920 ? 3840 : 1920;
        ram_set_u16(b.model->ram_para, ramaddr::kLedWidth, w);
        b.engine->para_chg_flag = 1;
        b.engine->stepOnce();
        b.model->refresh_shadow();
    }
    state.counters["spi_bytes"] =
        benchmark::Counter(static_cast<double>(b.chip->bytesReceived()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CommittedPanelChange);

// A pass with nothing committed: the input tracking every tick of an idle box costs.
void BM_IdlePass(benchmark::State& state)
{
    Bench& b = Bench::get();
    b.chip->clearLog();
    for (auto _ : state)
        b.engine->stepOnce();
    state.counters["spi_bytes"] =
        benchmark::Counter(static_cast<double>(b.chip->bytesReceived()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_IdlePass);

}  // namespace

int main(int argc, char** argv)
{
    BenchOutput output(argc, argv);
    BenchRoot root;
    if (!root.ok())
        return 1;
    return output.run();
}
