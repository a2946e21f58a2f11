// Console control events: Ctrl+C, Ctrl+Break and closing the console window
// (on POSIX: SIGINT, SIGTERM and SIGHUP).
#pragma once
#include <functional>

namespace qs::platform {

enum ConsoleEvent { kCtrlC = 0, kCtrlBreak = 1, kConsoleClose = 2 };

// Handler for a console control event. Returning false lets the default
// handling follow, which ends the process.
using ConsoleControlHandler = std::function<bool(int event)>;

// Starts watching for control events. Must run before any other thread is
// started (on POSIX the signals are then blocked in every thread and taken by
// a watcher thread of their own). Safe to call more than once.
void startConsoleControl();

// Adds a handler; the newest runs first, as with SetConsoleCtrlHandler.
void addConsoleControlHandler(ConsoleControlHandler handler);

// Work that must happen however the process ends (terminal restore); runs at
// a normal exit, after an unhandled control event, and on std::terminate.
void addExitCleanup(std::function<void()> cleanup);
void runExitCleanups();

// Runs the handlers for one event, newest first; true when one took it.
// Used by the platform's own watcher.
bool dispatchConsoleEvent(int event);

// The terminal went away under a thread that reads keys (a POSIX terminal
// that hung up: its window was closed). Handled as the window's own close
// event, once, whichever of the two comes first; the calling thread waits
// for the end of the program meanwhile, instead of taking the lost
// keyboard for Esc. Returns only when no end came (a handler took the
// event). On Windows the console's close event does this itself.
void terminalGone();

}  // namespace qs::platform
