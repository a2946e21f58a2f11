#include <windows.h>

#include "platform/named_event.h"

namespace qs::platform {
namespace {

class WinEvent final : public Event {
 public:
  explicit WinEvent(HANDLE h) : h_(h) {}
  ~WinEvent() override { CloseHandle(h_); }
  void set() override { SetEvent(h_); }
  void reset() override { ResetEvent(h_); }
  void pulse() override { PulseEvent(h_); }
  bool wait(uint32_t timeoutMs) override {
    return WaitForSingleObject(h_, timeoutMs == kWaitForever ? INFINITE : timeoutMs) == WAIT_OBJECT_0;
  }

 private:
  HANDLE h_;
};

}  // namespace

std::unique_ptr<Event> openNamedEvent(const std::string& name, bool manualReset, bool initiallySet) {
  HANDLE h = CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, name.c_str());
  if (h == nullptr) return nullptr;
  return std::make_unique<WinEvent>(h);
}

}  // namespace qs::platform
