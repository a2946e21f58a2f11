#include "platform/time.h"

namespace qs::platform {
namespace {

thread_local ClockOverride* tClock = nullptr;

}  // namespace

void setClockOverride(ClockOverride* clock) { tClock = clock; }

bool inputWaitsArePauses() { return tClock != nullptr && tClock->sleep && !tClock->realInputWaits; }

void sleepMs(uint32_t ms) {
  if (tClock != nullptr && tClock->sleep) {
    tClock->sleep(ms);
    return;
  }
  systemSleepMs(ms);
}

uint32_t tickCount() {
  if (tClock != nullptr && tClock->tick) return tClock->tick();
  return systemTickCount();
}

}  // namespace qs::platform
