// Time on the simulated board. The devices count in ticks of 10 ms; the running application
// points the source at its own tick counter, tests at the counter they advance, so a device
// that takes time (a card saving its parameters) is as slow as the test says and never depends
// on the wall clock. Without a source the board counts steady-clock time.
#pragma once

#include <cstdint>
#include <functional>

namespace sim {

void setTickSource(std::function<uint32_t()> source);
uint32_t ticks();

}  // namespace sim
