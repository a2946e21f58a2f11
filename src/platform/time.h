// Pauses and the millisecond tick used for averaging windows and time-outs.
#pragma once
#include <cstdint>
#include <functional>

namespace qs::platform {

// Makes short pauses as short as asked (1-ms timer resolution on Windows).
void initTiming();

// Suspends the calling thread for at least `ms` milliseconds.
void sleepMs(uint32_t ms);

// Milliseconds from an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t tickCount();

// A clock that tests put in place of the system's: pauses are handed to
// `sleep` instead of being slept, and `tick` answers tickCount. Only the
// thread that installed it sees it; other threads keep the real clock.
struct ClockOverride {
  std::function<void(uint32_t)> sleep;
  std::function<uint32_t()> tick;
  // Waits for input on a line stay real waits (an override that only
  // watches the pauses); otherwise they are handed to `sleep` too.
  bool realInputWaits = false;
};
void setClockOverride(ClockOverride* clock);  // null: the system's clock again
// True when this thread's override takes waits for input as pauses
// instead of waits on the line.
bool inputWaitsArePauses();

// The system's own pause and tick (what the override stands in for).
void systemSleepMs(uint32_t ms);
uint32_t systemTickCount();

}  // namespace qs::platform
