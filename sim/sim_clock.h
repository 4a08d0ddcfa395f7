// Time on the simulated board: devices count ticks of 10 ms from the board's tick source (see
// platform/clock.h), so a device that takes time (a card saving its parameters) is as slow as
// the test says and never depends on the wall clock.
#pragma once

#include <cstdint>
#include <functional>

namespace sim {

void setTickSource(std::function<uint32_t()> source);
uint32_t ticks();

}  // namespace sim
