// The program's entry: run mode from the command line, the start-up channel
// from the settings or the operator, then the long-lived objects in a fixed
// order.
#pragma once
#include <cstdint>
#include <string>

namespace qs {

enum class RunMode { Standalone, Master, Slave };

struct RunSelection {
  RunMode mode = RunMode::Standalone;
  int taskNumber = 1;
};

// Only the first character of the first argument counts: 'm' master, 's'
// slave with the decimal number after it as the task; anything else standalone.
RunSelection parseRunMode(int argc, const char* const* argv);

// Server address used when the operator answers the channel prompt with an
// empty line: a local relay on the default port.
inline constexpr const char* kDefaultServerAddress = "127.0.0.1";

inline constexpr const char* kChannelPrompt = "Введите номер COMx порта или IP:PORT адрес: ";
inline constexpr int kChannelPromptMax = 21;

struct StartupParams {
  std::string channelName = "COM2:";
  uint8_t deviceAddress = 0x21;
  int taskNumber = 1;
};

// Reads the Task line of `settingsFile` for params.taskNumber and, when it
// names no port (or the operator is to be asked), prompts on row 0. Returns
// false when the operator pressed Esc at the prompt.
bool chooseChannel(const std::string& settingsFile, StartupParams& params);

// `qs --help` / `qs --version`: prints and returns true when the arguments ask for it.
bool handleInfoArguments(int argc, const char* const* argv);

class ZuController;
// With Port_ZU's automatic flag 1, opens the installation's port and switches
// automatic work on.
void installationPortStep(ZuController& zu);

// What keeps the settings from naming this process's device: no settings
// file in the working folder ("нет файла QS_ADD/common.sch в папке
// /path"), or a Task line that its syntax does not take; "" when nothing.
std::string startupSettingsProblem(const std::string& settingsFile, const RunSelection& sel);
// Shows it and waits for a key; the program then ends with kStartupFailed.
void reportSettingsProblem(const std::string& problem);

// The start-up failure message for a device-link status and what to check
// (the port or relay of task `taskNumber`, the register file); waits for a
// key. The program then ends with kStartupFailed.
void reportStartupFailure(long status, const std::string& channelName, int taskNumber);
inline constexpr int kStartupFailed = 1;

// Ctrl+C, Ctrl+Break and closing the console (on POSIX: SIGINT, SIGTERM,
// SIGHUP) end the verification run going on as interrupted, with its
// points and why, and then tell the master that this task leaves (a
// slave). Returns false so that the default handling (the end of the
// program) follows.
bool onConsoleControl(int event);
// How long the end of a run may take when a control event ends the
// program: a closing console window gives a program about 5 s in all, and
// the master is told after it.
inline constexpr int kRunEndWithinMs = 3000;

int runEntry(int argc, char** argv);

}  // namespace qs
