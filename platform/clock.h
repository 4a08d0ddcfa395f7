// Time as the system sees it. On the board: the system clock. On the simulated board: a wall
// clock of its own that runs with the board's tick source (ticks of 10 ms; the application
// points it at its tick counter, tests at the counter they advance), that tests and
// "/etc/zel-sim.ini" set, and that a journaled "date" command moves, so setting the clock never
// touches the machine's own clock.
#pragma once

#include <cstdint>
#include <functional>

#include <QDateTime>

namespace platform {

// The local date and time.
QDateTime localNow();

// ---- simulated board ---------------------------------------------------------------------------
// Tick source of the simulated devices; without one they count steady-clock time.
void setTickSource(std::function<uint32_t()> source);
uint32_t simTicks();
// Sets the simulated wall clock (it runs on from there with simTicks()).
void setSimClock(const QDateTime& at);
// Tests: the simulated clock reads the host's time again and counts the host's ticks, as at start.
void resetSimClock();

}  // namespace platform
