// Pauses and the millisecond tick used for averaging windows and time-outs.
#pragma once
#include <cstdint>

namespace qs::platform {

// Makes short pauses as short as asked (1-ms timer resolution on Windows).
void initTiming();

// Suspends the calling thread for at least `ms` milliseconds.
void sleepMs(uint32_t ms);

// Milliseconds from an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t tickCount();

}  // namespace qs::platform
