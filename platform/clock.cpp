#include "platform/clock.h"

#include <chrono>
#include <mutex>

#include "platform/platform.h"

namespace platform {

namespace {

constexpr int kMsPerTick = 10;

std::mutex g_mutex;
std::function<uint32_t()> g_tickSource;
bool g_clockSet = false;
QDateTime g_clockBase;
uint32_t g_clockBaseTicks = 0;

uint32_t ticksLocked()
{
    if (g_tickSource)
        return g_tickSource();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count() / kMsPerTick);
}

}  // namespace

void setTickSource(std::function<uint32_t()> source)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    // The simulated clock keeps its reading across the change of source.
    if (g_clockSet)
        g_clockBase = g_clockBase.addMSecs(qint64(ticksLocked() - g_clockBaseTicks) * kMsPerTick);
    g_tickSource = std::move(source);
    g_clockBaseTicks = ticksLocked();
}

uint32_t simTicks()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return ticksLocked();
}

void setSimClock(const QDateTime& at)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_clockBase = at;
    g_clockBaseTicks = ticksLocked();
    g_clockSet = true;
}

void resetSimClock()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tickSource = nullptr;
    g_clockSet = false;
    g_clockBaseTicks = 0;
}

QDateTime localNow()
{
    if (!isSim())
        return QDateTime::currentDateTime();
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_clockSet) {
        g_clockBase = QDateTime::currentDateTime();
        g_clockBaseTicks = ticksLocked();
        g_clockSet = true;
    }
    return g_clockBase.addMSecs(qint64(ticksLocked() - g_clockBaseTicks) * kMsPerTick);
}

}  // namespace platform
