// Pacing of the worker threads that poll shared state (the video engine, the LED output, the
// Wi-Fi access point).
//
// Every wait of those workers is counted in GUI ticks, so between two ticks nothing becomes due
// that a request or a link did not hand over. A pass that found nothing to do therefore waits
// for the tick at which its worker next has something due, or until someone hands the worker
// work (wake()); a pass that left work behind is followed by the next one at once. The tick
// releases only the workers whose tick has come, so a worker that sleeps for several ticks
// costs the GUI thread nothing on the others. Tests step the passes themselves and never wait
// here.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>

#include <pthread.h>

class WorkerPace {
public:
    WorkerPace();
    ~WorkerPace();
    WorkerPace(const WorkerPace&) = delete;
    WorkerPace& operator=(const WorkerPace&) = delete;

    // One tick period.
    static constexpr std::chrono::milliseconds kTickPeriod{10};
    // How far a wait may outlast its ticks, for when no GUI tick runs (start-up, a busy GUI
    // thread). Half a period: a wait that ended with the period itself would often end just
    // before the tick and cost a second, empty pass for that tick.
    static constexpr std::chrono::milliseconds kTickSlack{kTickPeriod / 2};
    // The longest wait for one tick.
    static constexpr std::chrono::milliseconds kLongestWait{kTickPeriod + kTickSlack};

    // Waits until G_timeTicks differs from `seen` (the value read before the pass), wake() was
    // called since the last wait, or `longest` has passed.
    void waitNextTick(unsigned seen, std::chrono::milliseconds longest = kLongestWait);
    // Waits until G_timeTicks reaches `due` (across the counter's wrap), wake() was called since
    // the last wait, or the time of the ticks still to come plus kTickSlack has passed.
    void waitUntilTick(unsigned due);
    // The same, with the time limit given.
    void waitUntilTick(unsigned due, std::chrono::milliseconds longest);
    // Ends the current wait, or makes the next one return at once.
    void wake();

    // The tick to wait for after a pass begun at tick `seen`: the earliest of `dues` (the ticks
    // at which the worker's timed checks come due) and of seen + `longest`, and never before
    // seen + 1, so a check that came due during the pass runs on the next tick.
    static unsigned firstDue(unsigned seen, unsigned longest, std::initializer_list<unsigned> dues);

    // Stops a worker thread that loops until `stop` is set: sets it, ends the worker's current
    // wait, joins the thread and clears `stop` again, so the worker can be started anew.
    void stopWorker(pthread_t thread, std::atomic<bool>& stop);

    // The GUI tick: advances G_timeTicks by one, releases the workers whose tick has come and
    // returns the new count.
    static unsigned advanceTick();

private:
    // Each worker waits on its own lock: the tick releases them, and they would otherwise queue
    // up for a shared one.
    std::mutex m_;
    std::condition_variable c_;
    bool woken_ = false;   // guarded by m_
    // The tick the current (or last) wait is for. Written before the wait looks at the count,
    // read by the tick after it moved the count: one of the two always sees the other.
    std::atomic<unsigned> due_{0};
};
