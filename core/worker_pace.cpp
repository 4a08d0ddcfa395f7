#include "core/worker_pace.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/global.h"

namespace {

// The workers the tick releases.
std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}

std::vector<WorkerPace*>& registry()
{
    static std::vector<WorkerPace*> paces;
    return paces;
}

// Whether the count `now` has reached `due`, allowing for the counter's wrap.
bool reached(unsigned now, unsigned due)
{
    return static_cast<int32_t>(now - due) >= 0;
}

}  // namespace

WorkerPace::WorkerPace()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().push_back(this);
}

WorkerPace::~WorkerPace()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    auto& paces = registry();
    paces.erase(std::remove(paces.begin(), paces.end(), this), paces.end());
}

void WorkerPace::waitNextTick(unsigned seen, std::chrono::milliseconds longest)
{
    waitUntilTick(seen + 1, longest);
}

void WorkerPace::waitUntilTick(unsigned due)
{
    const int32_t ahead = static_cast<int32_t>(due - G_timeTicks.load());
    waitUntilTick(due, kTickPeriod * std::max(ahead, 0) + kTickSlack);
}

void WorkerPace::waitUntilTick(unsigned due, std::chrono::milliseconds longest)
{
    due_ = due;
    std::unique_lock<std::mutex> lock(m_);
    c_.wait_for(lock, longest, [&] { return woken_ || reached(G_timeTicks.load(), due); });
    woken_ = false;
}

unsigned WorkerPace::firstDue(unsigned seen, unsigned longest, std::initializer_list<unsigned> dues)
{
    unsigned first = seen + longest;
    for (unsigned due : dues)
        if (!reached(due, first))
            first = due;
    return reached(seen, first) ? seen + 1 : first;
}

void WorkerPace::stopWorker(pthread_t thread, std::atomic<bool>& stop)
{
    stop = true;
    wake();
    pthread_join(thread, nullptr);
    stop = false;
}

void WorkerPace::wake()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        woken_ = true;
    }
    c_.notify_one();
}

unsigned WorkerPace::advanceTick()
{
    std::lock_guard<std::mutex> registryLock(registryMutex());
    const unsigned now = ++G_timeTicks;
    for (WorkerPace* pace : registry()) {
        if (!reached(now, pace->due_.load()))
            continue;
        // Taking the worker's lock after the count moved: a worker between its check and its
        // wait cannot miss the tick.
        { std::lock_guard<std::mutex> lock(pace->m_); }
        pace->c_.notify_one();
    }
    return now;
}
