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

}  // namespace qs::platform
