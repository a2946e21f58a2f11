// Named events shared between processes: a small shared-memory object per
// name holding a state word and a generation word, waited on with futexes.
// A waiter that dies leaves nothing locked, so survivors never hang on it.
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include "platform/named_event.h"
#include "platform/posix/object_names.h"

namespace qs::platform {
namespace {

struct Shared {
  std::atomic<uint32_t> signalled;
  std::atomic<uint32_t> generation;  // moves on with every set and pulse
};
static_assert(sizeof(std::atomic<uint32_t>) == 4, "futex words are 32 bits");

int futex(std::atomic<uint32_t>* word, int op, uint32_t value, const timespec* timeout) {
  return static_cast<int>(syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, timeout, nullptr, 0));
}

uint64_t nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

class SharedEvent final : public Event {
 public:
  SharedEvent(Shared* s, bool manual) : s_(s), manual_(manual) {}
  ~SharedEvent() override { munmap(s_, sizeof(Shared)); }
  void set() override {
    s_->signalled.store(1);
    s_->generation.fetch_add(1);
    futex(&s_->generation, FUTEX_WAKE, manual_ ? 0x7FFFFFFF : 1, nullptr);
  }
  void reset() override { s_->signalled.store(0); }
  void pulse() override {
    s_->signalled.store(0);
    s_->generation.fetch_add(1);
    futex(&s_->generation, FUTEX_WAKE, manual_ ? 0x7FFFFFFF : 1, nullptr);
  }
  bool wait(uint32_t timeoutMs) override {
    uint64_t deadline = timeoutMs == kWaitForever ? 0 : nowMs() + timeoutMs;
    for (;;) {
      uint32_t g = s_->generation.load();
      if (manual_) {
        if (s_->signalled.load()) return true;
      } else {
        uint32_t one = 1;
        if (s_->signalled.compare_exchange_strong(one, 0)) return true;
      }
      timespec ts{};
      const timespec* limit = nullptr;
      if (timeoutMs != kWaitForever) {
        uint64_t now = nowMs();
        if (now >= deadline) return false;
        uint64_t left = deadline - now;
        ts.tv_sec = static_cast<time_t>(left / 1000);
        ts.tv_nsec = static_cast<long>(left % 1000) * 1000000L;
        limit = &ts;
      }
      futex(&s_->generation, FUTEX_WAIT, g, limit);
      if (s_->generation.load() != g && !s_->signalled.load()) return true;  // a pulse
    }
  }

 private:
  Shared* s_;
  bool manual_;
};

}  // namespace

std::unique_ptr<Event> openNamedEvent(const std::string& name, bool manualReset, bool initiallySet) {
  std::string path = objectName(name);
  int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool created = fd >= 0;
  if (!created) fd = shm_open(path.c_str(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (created && ftruncate(fd, sizeof(Shared)) != 0) {
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return nullptr;
  auto* s = static_cast<Shared*>(p);
  if (created) s->signalled.store(initiallySet ? 1 : 0);
  return std::make_unique<SharedEvent>(s, manualReset);
}

}  // namespace qs::platform
