// SPI traffic of the video engine against the simulated chip: bytes sent per full bring-up and
// per committed window change (a rise shows redundant register writes).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

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
        char dir[] = "/tmp/zel-bench-XXXXXX";
        if (mkdtemp(dir))
            setenv("ZEL_ROOT", dir, 1);
        setenv("ZEL_BOARD", "sim", 1);
        g_debugSwitch = 0;
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

}  // namespace

BENCHMARK_MAIN();
