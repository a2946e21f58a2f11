#include "platform/console_control.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <exception>

namespace qs::platform {
namespace {

BOOL WINAPI onControl(DWORD type) {
  if (dispatchConsoleEvent(static_cast<int>(type))) return TRUE;
  runExitCleanups();
  return FALSE;  // the default handling ends the process
}

[[noreturn]] void onTerminate() {
  runExitCleanups();
  std::abort();
}

void atExit() { runExitCleanups(); }

}  // namespace

void startConsoleControl() {
  static std::atomic<bool> started{false};
  if (started.exchange(true)) return;
  SetConsoleCtrlHandler(onControl, TRUE);
  std::set_terminate(onTerminate);
  std::atexit(atExit);
}

// A closed console sends its own event to every program attached to it.
void terminalGone() {}

}  // namespace qs::platform
