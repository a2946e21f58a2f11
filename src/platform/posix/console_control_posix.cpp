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

std::atomic<bool> gStarted{false};

[[noreturn]] void onTerminate() {
  runExitCleanups();
  std::abort();
}

void atExit() { runExitCleanups(); }

}  // namespace

void startConsoleControl() {
  if (gStarted.exchange(true)) return;
  sigset_t set = controlSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a relay that went away must not end the program
  std::set_terminate(onTerminate);
  std::atexit(atExit);
  std::thread(watch).detach();
}

void terminalGone() {
  if (!gStarted) return;  // nobody watches for the signal: the reader takes it as Esc
  // The watcher takes it as the signal of a closed window (a SIGHUP that
  // the hang-up sent as well is the same one, still pending).
  kill(getpid(), SIGHUP);
  for (int i = 0; i < 100; ++i) usleep(100 * 1000);
}

}  // namespace qs::platform
