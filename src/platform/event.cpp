// Events of one process, on a mutex and a condition variable.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/named_event.h"

namespace qs::platform {
namespace {

class LocalEvent final : public Event {
 public:
  LocalEvent(bool manual, bool set) : manual_(manual), signalled_(set) {}
  void set() override {
    std::lock_guard<std::mutex> lock(m_);
    signalled_ = true;
    if (manual_) cv_.notify_all();
    else cv_.notify_one();
  }
  void reset() override {
    std::lock_guard<std::mutex> lock(m_);
    signalled_ = false;
  }
  void pulse() override {
    std::lock_guard<std::mutex> lock(m_);
    ++pulses_;
    signalled_ = false;
    if (manual_) cv_.notify_all();
    else cv_.notify_one();
  }
  bool wait(uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> lock(m_);
    uint64_t seen = pulses_;
    auto ready = [&] { return signalled_ || pulses_ != seen; };
    bool ok;
    if (timeoutMs == kWaitForever) {
      cv_.wait(lock, ready);
      ok = true;
    } else {
      ok = cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    }
    if (ok && signalled_ && !manual_) signalled_ = false;
    return ok;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool manual_;
  bool signalled_;
  uint64_t pulses_ = 0;
};

}  // namespace

std::unique_ptr<Event> createEvent(bool manualReset, bool initiallySet) {
  return std::make_unique<LocalEvent>(manualReset, initiallySet);
}

}  // namespace qs::platform
