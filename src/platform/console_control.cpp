#include "platform/console_control.h"

#include <mutex>
#include <vector>

namespace qs::platform {
namespace {

// Made once and never destroyed: a control event or an exit cleanup may
// still run on the watcher's thread while the main thread's exit destroys
// the program's statics.
struct Registry {
  std::mutex mutex;
  std::vector<ConsoleControlHandler> handlers;
  std::vector<std::function<void()>> cleanups;
  // Held while the cleanups run: a second caller (a window closed while the
  // program ends on its own) waits for them instead of ending the process
  // in the middle of them.
  std::recursive_mutex running;
};

Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

}  // namespace

void addConsoleControlHandler(ConsoleControlHandler handler) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().handlers.push_back(std::move(handler));
}

bool dispatchConsoleEvent(int event) {
  std::vector<ConsoleControlHandler> handlers;
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    handlers.assign(registry().handlers.rbegin(), registry().handlers.rend());
  }
  for (auto& h : handlers)
    if (h(event)) return true;
  return false;
}

void addExitCleanup(std::function<void()> cleanup) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().cleanups.push_back(std::move(cleanup));
}

void runExitCleanups() {
  std::lock_guard<std::recursive_mutex> running(registry().running);
  std::vector<std::function<void()>> cleanups;
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    cleanups.swap(registry().cleanups);
  }
  for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it) (*it)();
}

}  // namespace qs::platform
