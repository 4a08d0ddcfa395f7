#include "core/worker_pace.h"

#include <condition_variable>
#include <mutex>

#include "core/global.h"

namespace {

// One mutex and condition for all workers: the tick releases all of them at once.
std::mutex& waitMutex()
{
    static std::mutex m;
    return m;
}

std::condition_variable& waitCondition()
{
    static std::condition_variable c;
    return c;
}

}  // namespace

void WorkerPace::waitNextTick(unsigned seen, std::chrono::milliseconds longest)
{
    std::unique_lock<std::mutex> lock(waitMutex());
    waitCondition().wait_for(lock, longest,
                             [&] { return woken_ || G_timeTicks.load() != seen; });
    woken_ = false;
}

void WorkerPace::wake()
{
    {
        std::lock_guard<std::mutex> lock(waitMutex());
        woken_ = true;
    }
    waitCondition().notify_all();
}

unsigned WorkerPace::advanceTick()
{
    unsigned now;
    {
        // Under the wait mutex, so a worker between its check and its wait cannot miss the tick.
        std::lock_guard<std::mutex> lock(waitMutex());
        now = ++G_timeTicks;
    }
    waitCondition().notify_all();
    return now;
}
