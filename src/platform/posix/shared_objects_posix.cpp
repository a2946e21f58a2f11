#include "platform/shared_objects.h"

#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/time.h"

namespace qs::platform {
namespace {

std::string objectName(const std::string& name) { return "/qs." + std::to_string(getuid()) + "." + name; }

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

struct MutexWord {
  std::atomic<uint32_t> ready;  // set once the mutex is initialised
  pthread_mutex_t mutex;
};

class RobustMutex final : public NamedMutex {
 public:
  explicit RobustMutex(MutexWord* w) : w_(w) {}
  ~RobustMutex() override { munmap(w_, sizeof(MutexWord)); }
  bool lock(uint32_t timeoutMs) override {
    int r;
    if (timeoutMs == 0xFFFFFFFFu) {
      r = pthread_mutex_lock(&w_->mutex);
    } else {
      timespec ts{};
      clock_gettime(CLOCK_REALTIME, &ts);
      ts.tv_sec += static_cast<time_t>(timeoutMs / 1000);
      ts.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
      if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
      }
      r = pthread_mutex_timedlock(&w_->mutex, &ts);
    }
    if (r == EOWNERDEAD) {  // its holder died: it is ours, in a usable state
      pthread_mutex_consistent(&w_->mutex);
      return true;
    }
    return r == 0;
  }
  void unlock() override { pthread_mutex_unlock(&w_->mutex); }

 private:
  MutexWord* w_;
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
  return dir + "/qs2synhro." + std::to_string(getuid()) + extra + ".tmp";
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
  std::string path = objectName(name);
  int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool created = fd >= 0;
  if (!created) fd = shm_open(path.c_str(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (created && ftruncate(fd, sizeof(MutexWord)) != 0) {
    ::close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, sizeof(MutexWord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) return nullptr;
  auto* w = static_cast<MutexWord*>(p);
  if (created) {
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&w->mutex, &a);
    pthread_mutexattr_destroy(&a);
    w->ready.store(1);
  } else {
    for (int i = 0; i < 1000 && w->ready.load() != 1; ++i) systemSleepMs(1);  // its maker is still setting it up
    if (w->ready.load() != 1) {
      munmap(p, sizeof(MutexWord));
      return nullptr;
    }
  }
  return std::make_unique<RobustMutex>(w);
}

std::unique_ptr<NamedSemaphore> openNamedSemaphore(const std::string& name, unsigned initial, unsigned) {
  sem_t* s = sem_open(objectName(name).c_str(), O_CREAT, 0600, initial);
  if (s == SEM_FAILED) return nullptr;
  return std::make_unique<PosixSemaphore>(s);
}

}  // namespace qs::platform
