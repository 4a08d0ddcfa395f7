// Reply times of a link client that writes and commits a picture value every 10 ms while the LED
// screen size changes five times, on the board's pace (the 10 ms tick from the GUI thread's event
// loop, the engine sleeping): the longest and the median reply, in seconds. The suite checks only
// that such a reply comes while the LED output's hand-over still runs; this says how soon.
#include <QApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "bench_output.h"
#include "core/global.h"
#include "core/ram_layout.h"
#include "tests/e2e/running_box.h"
#include "tests/support/test_root.h"

namespace {

using e2e::RunningBox;

constexpr e2e::Panel kSizes[] = {{3840, 1080, 3840, 1080, 0}, {2560, 1440, 2560, 1440, 0}};
constexpr int kSizeChanges = 5;

// Serves this thread's events (and the tick) until `done` holds; false after 30 s.
bool idleUntil(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        RunningBox::idle(2);
    }
    return true;
}

// One LED-size change from a link thread, this thread serving the tick until the hand-over ended.
bool changeSize(const e2e::Panel& size)
{
    std::atomic<bool> sent{false};
    std::thread link([&] {
        for (const e2e::Bytes& b : e2e::panelBodies(size))
            RunningBox::ask(b);
        sent = true;
    });
    const bool ended = idleUntil([&] { return sent.load() && g_set_led_para.load() == 0; });
    idleUntil([&] { return sent.load(); });
    link.join();
    return ended;
}

void BM_LinkRepliesDuringLedSizeChanges(benchmark::State& state)
{
    std::vector<double> replies;
    for (auto _ : state) {
        zeltest::TempRoot root;
        RunningBox box(e2e::Pace::Board);
        if (!box.start()) {
            state.SkipWithError("the box did not come up");
            return;
        }
        std::atomic<bool> done{false};
        std::thread client([&] {
            for (uint16_t v = 11; !done.load(); v = uint16_t(v % 90 + 7)) {
                replies.push_back(std::max(RunningBox::ask(e2e::writeRamBody(ramaddr::kContrast, e2e::word(v))),
                                           RunningBox::ask(e2e::updateBody())));
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        bool ok = true;
        for (int k = 0; k < kSizeChanges && ok; ++k)
            ok = changeSize(kSizes[k % 2]);
        done = true;
        client.join();
        box.stop();
        if (!ok) {
            state.SkipWithError("an LED-size change did not end");
            return;
        }
    }
    std::sort(replies.begin(), replies.end());
    if (replies.empty())
        return;
    state.counters["longest_reply_s"] = replies.back();
    state.counters["median_reply_s"] = replies[replies.size() / 2];
    state.counters["replies"] = double(replies.size());
}
BENCHMARK(BM_LinkRepliesDuringLedSizeChanges)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    BenchOutput output(argc, argv);
    g_debugSwitch = BenchOutput::debugSwitch();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("ZEL_BOARD", "sim", 1);
    QApplication app(argc, argv);
    return output.run();
}
