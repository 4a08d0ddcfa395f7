#include "sim/sim_clock.h"

#include <chrono>
#include <mutex>

namespace sim {

namespace {
std::mutex g_mutex;
std::function<uint32_t()> g_source;
constexpr int kMsPerTick = 10;
}  // namespace

void setTickSource(std::function<uint32_t()> source)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_source = std::move(source);
}

uint32_t ticks()
{
    std::function<uint32_t()> source;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        source = g_source;
    }
    if (source)
        return source();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count() / kMsPerTick);
}

}  // namespace sim
