// Pacing of the worker threads that poll shared state (the video engine, the LED output).
//
// Every wait of those workers is counted in GUI ticks, so between two ticks nothing becomes due
// that a request or a link did not hand over. A pass that found nothing to do therefore waits
// for the next tick, or until someone hands the worker work (wake()); a pass that left work
// behind is followed by the next one at once. Tests step the passes themselves and never wait
// here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class WorkerPace {
public:
    WorkerPace();
    ~WorkerPace();
    WorkerPace(const WorkerPace&) = delete;
    WorkerPace& operator=(const WorkerPace&) = delete;

    // One tick period.
    static constexpr std::chrono::milliseconds kTickPeriod{10};
    // The longest wait, for when no GUI tick runs (start-up, a busy GUI thread). Half a period
    // beyond the tick: a wait that ended with the period itself would often end just before the
    // tick and cost a second, empty pass for that tick.
    static constexpr std::chrono::milliseconds kLongestWait{kTickPeriod * 3 / 2};

    // Waits until G_timeTicks differs from `seen` (the value read before the pass), wake() was
    // called since the last wait, or `longest` has passed.
    void waitNextTick(unsigned seen, std::chrono::milliseconds longest = kLongestWait);
    // Ends the current wait, or makes the next one return at once.
    void wake();

    // The GUI tick: advances G_timeTicks by one, releases the waiting workers and returns the
    // new count.
    static unsigned advanceTick();

private:
    // Each worker waits on its own lock: the tick releases them all, and they would otherwise
    // queue up for a shared one on every tick.
    std::mutex m_;
    std::condition_variable c_;
    bool woken_ = false;   // guarded by m_
};
