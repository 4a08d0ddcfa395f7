// Pacing of the worker threads that poll shared state (the video engine, the LED output).
//
// Every wait of those workers is counted in GUI ticks, so between two ticks nothing becomes due
// that a request or a link did not hand over. A pass that found nothing to do therefore waits
// for the next tick, or until someone hands the worker work (wake()); a pass that left work
// behind is followed by the next one at once. Tests step the passes themselves and never wait
// here.
#pragma once

#include <chrono>

class WorkerPace {
public:
    // One tick period: the longest wait, for when no GUI tick runs (start-up, a busy GUI thread).
    static constexpr std::chrono::milliseconds kTickPeriod{10};

    // Waits until G_timeTicks differs from `seen` (the value read before the pass), wake() was
    // called since the last wait, or `longest` has passed.
    void waitNextTick(unsigned seen, std::chrono::milliseconds longest = kTickPeriod);
    // Ends the current wait, or makes the next one return at once.
    void wake();

    // The GUI tick: advances G_timeTicks by one, releases the waiting workers and returns the
    // new count.
    static unsigned advanceTick();

private:
    bool woken_ = false;   // guarded by the shared wait mutex
};
