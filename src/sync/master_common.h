// What the three parts of the master (console, dispatcher, scheduler) share.
#pragma once
#include <chrono>
#include <cstdint>
#include <mutex>

#include "sync/sync_link.h"

namespace qs::master {

inline constexpr uint32_t kStepLockMs = 10000;
inline constexpr uint32_t kTableLockMs = 20000;
inline constexpr uint32_t kReapIntervalMs = 1000;

// Holds the master's screen lock for a while; goes on without it after the
// wait (a wait of 0 only takes a lock that is free).
class ScreenLock {
 public:
  ScreenLock(std::timed_mutex& m, uint32_t ms)
      : m_(m), held_(ms == 0 ? m.try_lock() : m.try_lock_for(std::chrono::milliseconds(ms))) {}
  ~ScreenLock() {
    if (held_) m_.unlock();
  }
  bool held() const { return held_; }

 private:
  std::timed_mutex& m_;
  bool held_;
};

// A step request as one number (variant, group, point, step from the top
// byte down), so that steps compare in programme order. The variant byte may
// carry the sign bit: the bytes are packed unsigned and read back as the
// 32-bit value they form.
inline int32_t stepCode(int32_t t, int32_t a, int32_t s, int32_t p) {
  uint32_t v = (static_cast<uint32_t>(t) << 24) + (static_cast<uint32_t>(a) << 16) + (static_cast<uint32_t>(s) << 8) +
               static_cast<uint32_t>(p);
  return static_cast<int32_t>(v);
}

// The programme a task asks for: its identity with the variant in the top byte.
inline int32_t programmeTag(const TaskSlot& t) {
  return static_cast<int32_t>(static_cast<uint32_t>(t.programmeId) + (static_cast<uint32_t>(t.T) << 24));
}

}  // namespace qs::master
