// Events that threads (and, when named, processes) wait for: set, reset,
// pulse, and wait with a time-out. Manual-reset events stay signalled until
// reset; auto-reset events release one waiter and reset themselves. A pulse
// wakes whoever waits at that moment and leaves the event reset.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace qs::platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class Event {
 public:
  virtual ~Event() = default;
  virtual void set() = 0;
  virtual void reset() = 0;
  virtual void pulse() = 0;
  // True when signalled (or pulsed) within `timeoutMs`.
  virtual bool wait(uint32_t timeoutMs) = 0;
};

// An event of this process only.
std::unique_ptr<Event> createEvent(bool manualReset, bool initiallySet);
// An event that every process of this user opening `name` shares; null when
// the system refuses it.
std::unique_ptr<Event> openNamedEvent(const std::string& name, bool manualReset, bool initiallySet);

}  // namespace qs::platform
