// Objects that the processes of a verification stand share: a block of
// memory over a small file, a mutex that a process holding it may die with,
// and a counting semaphore. All names are per user.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qs::platform {

class SharedBlock {
 public:
  virtual ~SharedBlock() = default;
  virtual uint8_t* data() = 0;
  virtual size_t size() const = 0;
};

// Maps `size` bytes named `name` over the backing file (Windows: the file
// "c:\qs2synhro.tmp"; POSIX: a file of that name, mode 0600, in the user's
// runtime folder). Every process opening the same name sees the same bytes.
// Null when the system refuses; *stage tells which step failed (1 file,
// 2 mapping, 3 view).
std::unique_ptr<SharedBlock> openSharedBlock(const std::string& name, size_t size, int* stage = nullptr);

class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  // True when the mutex is now held (also when its last holder died holding
  // it); false when `timeoutMs` ran out.
  virtual bool lock(uint32_t timeoutMs) = 0;
  virtual void unlock() = 0;
};
std::unique_ptr<NamedMutex> openNamedMutex(const std::string& name);

class NamedSemaphore {
 public:
  virtual ~NamedSemaphore() = default;
};
std::unique_ptr<NamedSemaphore> openNamedSemaphore(const std::string& name, unsigned initial, unsigned maximum);

// Forgets a named mutex or event once no process holds it (POSIX keeps them
// until removed; Windows drops them with their last handle).
void removeNamedObject(const std::string& name);

// Where the backing file of the shared block `name` lives on this system
// ("ZU_SYNCHRONIZATON" has the stand's own file; other names, used by tests,
// get files of their own).
std::string sharedBlockPath(const std::string& name = "ZU_SYNCHRONIZATON");

}  // namespace qs::platform
