// Slave processes of a verification stand, each in a console of its own.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qs::platform {

struct ProcessId {
  intptr_t value = 0;  // 0: none
};

// Starts `program` with `argument` in a new console (Windows: a new console
// window; POSIX: a new tmux window when running inside tmux, else the
// desktop's terminal emulator when there is a display). `slot` (0-8) places
// the window. False when it cannot be started.
bool startInNewConsole(const std::string& program, const std::string& argument, int slot, ProcessId* id);
// Whether a process started so is still running.
bool processAlive(ProcessId id);
// This process's id, and whether the process of an id is still running (a
// task of the stand publishes its id so that the master can tell when it is
// gone, however it was started).
uint32_t ownProcessId();
bool pidRunning(uint32_t pid);
// When the process of an id started, as a number that tells it from a later
// process given the same id; 0 when there is no such process or it cannot
// be told.
uint64_t processStartMark(uint32_t pid);
// The computer's name, as the network knows it ("" when it cannot be told).
std::string workstationName();
// Text the program writes to its standard output is UTF-8 (a Windows
// console is told so, and given its previous output code page back when the
// program ends: the console is shared with the shell that started qs;
// elsewhere nothing to do).
void useUtf8Output();
// Writes UTF-8 text to `out`: to a Windows console as its characters (the
// console's code page does not matter), elsewhere as the bytes, flushed.
// True only when every character reached the console or every byte was
// written and flushed (false for a full disk, a closed pipe, a stream that
// cannot be written).
bool writeText(std::FILE* out, const std::string& utf8);
// The program's arguments as UTF-8, the program's name first: on Windows
// taken from the wide command line, so that names in any alphabet arrive
// whatever the system's ANSI code page is; on POSIX argv as it is.
std::vector<std::string> utf8Arguments(int argc, char** argv);
// Calls `prepare` before this process forks, `parent` and `child` after it
// in each (POSIX; Windows has no fork).
void onFork(void (*prepare)(), void (*parent)(), void (*child)());
// Ends a process started so and waits for it.
void terminateProcess(ProcessId id);
// The program's own path as the system knows it (for starting copies of it).
std::string ownProgramPath(const char* argv0);

}  // namespace qs::platform
