#include "platform/shared_objects.h"

#include <windows.h>

namespace qs::platform {
namespace {

class MappedBlock final : public SharedBlock {
 public:
  MappedBlock(HANDLE file, HANDLE mapping, uint8_t* view, size_t n) : file_(file), mapping_(mapping), view_(view), n_(n) {}
  ~MappedBlock() override {
    UnmapViewOfFile(view_);
    CloseHandle(mapping_);
    CloseHandle(file_);
  }
  uint8_t* data() override { return view_; }
  size_t size() const override { return n_; }

 private:
  HANDLE file_, mapping_;
  uint8_t* view_;
  size_t n_;
};

class WinMutex final : public NamedMutex {
 public:
  explicit WinMutex(HANDLE h) : h_(h) {}
  ~WinMutex() override { CloseHandle(h_); }
  bool lock(uint32_t timeoutMs) override {
    DWORD r = WaitForSingleObject(h_, timeoutMs == 0xFFFFFFFFu ? INFINITE : timeoutMs);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;  // an abandoned mutex is ours
  }
  void unlock() override { ReleaseMutex(h_); }

 private:
  HANDLE h_;
};

class WinSemaphore final : public NamedSemaphore {
 public:
  explicit WinSemaphore(HANDLE h) : h_(h) {}
  ~WinSemaphore() override { CloseHandle(h_); }

 private:
  HANDLE h_;
};

}  // namespace

void removeNamedObject(const std::string&) {}

std::string sharedBlockPath(const std::string& name) {
  return name == "ZU_SYNCHRONIZATON" ? "c:\\qs2synhro.tmp" : "c:\\qs2synhro." + name + ".tmp";
}

std::unique_ptr<SharedBlock> openSharedBlock(const std::string& name, size_t size, int* stage) {
  if (stage != nullptr) *stage = 1;
  HANDLE file = CreateFileA(sharedBlockPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (stage != nullptr) *stage = 2;
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), name.c_str());
  if (mapping == nullptr) {
    CloseHandle(file);
    return nullptr;
  }
  if (stage != nullptr) *stage = 3;
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size);
  if (view == nullptr) {
    CloseHandle(mapping);
    CloseHandle(file);
    return nullptr;
  }
  if (stage != nullptr) *stage = 0;
  return std::make_unique<MappedBlock>(file, mapping, static_cast<uint8_t*>(view), size);
}

std::unique_ptr<NamedMutex> openNamedMutex(const std::string& name) {
  HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
  if (h == nullptr) return nullptr;
  return std::make_unique<WinMutex>(h);
}

std::unique_ptr<NamedSemaphore> openNamedSemaphore(const std::string& name, unsigned initial, unsigned maximum) {
  HANDLE h = CreateSemaphoreA(nullptr, static_cast<LONG>(initial), static_cast<LONG>(maximum), name.c_str());
  if (h == nullptr) return nullptr;
  return std::make_unique<WinSemaphore>(h);
}

}  // namespace qs::platform
