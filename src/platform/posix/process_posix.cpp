#include "platform/process.h"
#include "platform/posix/pid_alive.h"

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qs::platform {
namespace {

std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

}  // namespace

std::string ownProgramPath(const char* argv0) {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) return std::string(buf, static_cast<size_t>(n));
  return argv0 != nullptr ? argv0 : "qs";
}

bool startInNewConsole(const std::string& program, const std::string& argument, int slot, ProcessId* id) {
  std::string command = "exec " + quoted(program) + " " + quoted(argument);
  char cwd[PATH_MAX] = ".";
  if (getcwd(cwd, sizeof cwd) == nullptr) std::snprintf(cwd, sizeof cwd, ".");
  if (std::getenv("TMUX") != nullptr) {
    // A window of the operator's tmux session, in this folder (the tmux
    // server's own may be another); its pane's process is the slave.
    std::string tmux = "tmux new-window -d -P -F '#{pane_pid}' -n " + quoted("QS_S" + std::to_string(slot + 1)) +
                       " -c " + quoted(cwd) + " " + quoted(command) + " 2>/dev/null";
    FILE* p = popen(tmux.c_str(), "r");
    if (p == nullptr) return false;
    long pid = 0;
    int got = std::fscanf(p, "%ld", &pid);
    int rc = pclose(p);
    if (got != 1 || rc != 0 || pid <= 0) return false;
    if (id != nullptr) id->value = pid;
    return true;
  }
  if (std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr) {
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      setsid();
      if (chdir(cwd) != 0) _exit(127);
      execlp("x-terminal-emulator", "x-terminal-emulator", "-e", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (id != nullptr) id->value = pid;
    return true;
  }
  return false;  // no console to put it in: the operator starts it by hand
}

uint32_t ownProcessId() { return static_cast<uint32_t>(getpid()); }

void useUtf8Output() {}

void onFork(void (*prepare)(), void (*parent)(), void (*child)()) { pthread_atfork(prepare, parent, child); }

// The terminal takes UTF-8 as it is. The flush is part of the write: a
// full disk or a closed pipe often shows only when the buffer goes out.
bool writeText(std::FILE* out, const std::string& utf8) {
  bool whole = std::fwrite(utf8.data(), 1, utf8.size(), out) == utf8.size();
  return std::fflush(out) == 0 && whole;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) args.emplace_back(argv[i]);
  return args;
}

std::string workstationName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

bool pidRunning(uint32_t pid) {
  if (pid == 0 || pid > 0x7FFFFFFFu) return false;
  waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);  // reaps it when it was our own child
  return pidAlive(static_cast<pid_t>(pid));
}

uint64_t processStartMark(uint32_t pid) {
  if (pid == 0 || pid > 0x7FFFFFFFu) return 0;
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return 0;
  char line[1024];
  size_t n = std::fread(line, 1, sizeof line - 1, f);
  std::fclose(f);
  line[n] = '\0';
  // The fields after the command name (which may hold blanks and ')'):
  // the start time is the 20th of them.
  const char* p = std::strrchr(line, ')');
  if (p == nullptr) return 0;
  for (int field = 0; field < 20 && p != nullptr; ++field) p = std::strchr(p + 1, ' ');
  return p != nullptr ? std::strtoull(p + 1, nullptr, 10) : 0;
}

bool processAlive(ProcessId id) {
  if (id.value <= 0) return false;
  pid_t pid = static_cast<pid_t>(id.value);
  waitpid(pid, nullptr, WNOHANG);  // reaps it when it was our own child
  return pidAlive(pid);
}

void terminateProcess(ProcessId id) {
  if (id.value <= 0) return;
  pid_t pid = static_cast<pid_t>(id.value);
  // Asked to end first (a bench says it leaves); one that has not ended
  // within 3 s is killed, so that it is gone (its port free) on return.
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    waitpid(pid, nullptr, WNOHANG);
    if (!pidAlive(pid)) return;
    if (i == 150) kill(pid, SIGKILL);
    usleep(20000);
  }
}

}  // namespace qs::platform
