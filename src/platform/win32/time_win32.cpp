#include "platform/time.h"

#include <windows.h>
#include <timeapi.h>

namespace qs::platform {

void initTiming() {
  // The frame receivers pause 3 ms between polls; the default 15.6-ms tick
  // would make every such pause five times longer.
  timeBeginPeriod(1);
}

void systemSleepMs(uint32_t ms) { Sleep(ms); }

uint32_t systemTickCount() { return GetTickCount(); }

}  // namespace qs::platform
