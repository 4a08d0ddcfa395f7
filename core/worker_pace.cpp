#include "core/worker_pace.h"

#include <algorithm>
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
    std::unique_lock<std::mutex> lock(m_);
    c_.wait_for(lock, longest, [&] { return woken_ || G_timeTicks.load() != seen; });
    woken_ = false;
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
        // Taking the worker's lock after the count moved: a worker between its check and its
        // wait cannot miss the tick.
        { std::lock_guard<std::mutex> lock(pace->m_); }
        pace->c_.notify_one();
    }
    return now;
}
