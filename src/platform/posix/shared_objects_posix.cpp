#include "platform/shared_objects.h"
#include "platform/posix/object_names.h"
#include "platform/posix/pid_alive.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>


namespace qs::platform {
namespace {


class MappedBlock final : public SharedBlock {
 public:
  MappedBlock(uint8_t* p, size_t n) : p_(p), n_(n) {}
  ~MappedBlock() override { munmap(p_, n_); }
  uint8_t* data() override { return p_; }
  size_t size() const override { return n_; }

 private:
  uint8_t* p_;
  size_t n_;
};

// The mutex is a word holding its owner's process id (0: free). A waiter
// that finds the owner's process gone takes the mutex over, so a process
// killed while holding it never stops the others.
struct MutexWord {
  std::atomic<uint32_t> owner;
};

int futexCall(std::atomic<uint32_t>* word, int op, uint32_t value, const timespec* timeout) {
  return static_cast<int>(syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, timeout, nullptr, 0));
}

bool processGone(uint32_t pid) { return pid != 0 && !pidAlive(static_cast<pid_t>(pid)); }

class OwnerMutex final : public NamedMutex {
 public:
  explicit OwnerMutex(MutexWord* w) : w_(w), me_(static_cast<uint32_t>(getpid())) {}
  ~OwnerMutex() override { munmap(w_, sizeof(MutexWord)); }
  bool lock(uint32_t timeoutMs) override {
    uint32_t waited = 0;
    for (;;) {
      uint32_t expected = 0;
      if (w_->owner.compare_exchange_strong(expected, me_)) return true;
      if (processGone(expected) && w_->owner.compare_exchange_strong(expected, me_)) return true;  // taken over
      if (timeoutMs != 0xFFFFFFFFu && waited >= timeoutMs) return false;
      timespec slice{0, 50 * 1000000L};  // look at the owner again every 50 ms
      futexCall(&w_->owner, FUTEX_WAIT, expected, &slice);
      waited += 50;
    }
  }
  void unlock() override {
    uint32_t expected = me_;
    w_->owner.compare_exchange_strong(expected, 0);
    futexCall(&w_->owner, FUTEX_WAKE, 1, nullptr);
  }

 private:
  MutexWord* w_;
  uint32_t me_;
};

class PosixSemaphore final : public NamedSemaphore {
 public:
  explicit PosixSemaphore(sem_t* s) : s_(s) {}
  ~PosixSemaphore() override { sem_close(s_); }

 private:
  sem_t* s_;
};

}  // namespace

void removeNamedObject(const std::string& name) {
  shm_unlink(objectName(name).c_str());
  sem_unlink(objectName(name).c_str());
}

std::string sharedBlockPath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string dir = runtime != nullptr && runtime[0] == '/' ? runtime : "/tmp";
  std::string extra = name == "ZU_SYNCHRONIZATON" ? "" : "." + name;
  return dir + "/qs2synhro." + standOwner() + extra + ".tmp";
}

std::unique_ptr<SharedBlock> openSharedBlock(const std::string& name, size_t size, int* stage) {
  if (stage != nullptr) *stage = 1;
  int fd = ::open(sharedBlockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  struct stat st{};
  if (fstat(fd, &st) != 0 || st.st_uid != getuid() || (static_cast<size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    ::close(fd);
    return nullptr;
  }
  fchmod(fd, 0600);
  if (stage != nullptr) *stage = 3;
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) return nullptr;
  if (stage != nullptr) *stage = 0;
  return std::make_unique<MappedBlock>(static_cast<uint8_t*>(p), size);
}

std::unique_ptr<NamedMutex> openNamedMutex(const std::string& name) {
  int fd = shm_open(objectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st{};
  if (fstat(fd, &st) != 0 || (static_cast<size_t>(st.st_size) < sizeof(MutexWord) && ftruncate(fd, sizeof(MutexWord)) != 0)) {
    ::close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, sizeof(MutexWord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) return nullptr;
  return std::make_unique<OwnerMutex>(static_cast<MutexWord*>(p));
}

std::unique_ptr<NamedSemaphore> openNamedSemaphore(const std::string& name, unsigned initial, unsigned) {
  sem_t* s = sem_open(objectName(name).c_str(), O_CREAT, 0600, initial);
  if (s == SEM_FAILED) return nullptr;
  return std::make_unique<PosixSemaphore>(s);
}

}  // namespace qs::platform
