#include "platform/console_control.h"

#include <mutex>
#include <vector>

namespace qs::platform {
namespace {

std::mutex gMutex;
std::vector<ConsoleControlHandler> gHandlers;
std::vector<std::function<void()>> gCleanups;

}  // namespace

void addConsoleControlHandler(ConsoleControlHandler handler) {
  std::lock_guard<std::mutex> lock(gMutex);
  gHandlers.push_back(std::move(handler));
}

bool dispatchConsoleEvent(int event) {
  std::vector<ConsoleControlHandler> handlers;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    handlers.assign(gHandlers.rbegin(), gHandlers.rend());
  }
  for (auto& h : handlers)
    if (h(event)) return true;
  return false;
}

void addExitCleanup(std::function<void()> cleanup) {
  std::lock_guard<std::mutex> lock(gMutex);
  gCleanups.push_back(std::move(cleanup));
}

void runExitCleanups() {
  std::vector<std::function<void()>> cleanups;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    cleanups.swap(gCleanups);
  }
  for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it) (*it)();
}

}  // namespace qs::platform
