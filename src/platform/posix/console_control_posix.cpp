#include "platform/console_control.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <thread>

namespace qs::platform {
namespace {

sigset_t controlSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// SIGINT is Ctrl+C; SIGTERM and SIGHUP mean the window is going away.
int eventOf(int sig) { return sig == SIGINT ? kCtrlC : kConsoleClose; }

void watch() {
  sigset_t set = controlSignals();
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (dispatchConsoleEvent(eventOf(sig))) continue;
    runExitCleanups();
    _exit(128 + sig);
  }
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
  sigset_t set = controlSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a relay that went away must not end the program
  std::set_terminate(onTerminate);
  std::atexit(atExit);
  std::thread(watch).detach();
}

}  // namespace qs::platform
