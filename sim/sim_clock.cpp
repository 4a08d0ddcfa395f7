#include "sim/sim_clock.h"

#include "platform/clock.h"

namespace sim {

void setTickSource(std::function<uint32_t()> source) { platform::setTickSource(std::move(source)); }

uint32_t ticks() { return platform::simTicks(); }

}  // namespace sim
