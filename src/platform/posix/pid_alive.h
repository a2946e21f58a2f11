// Whether a process id names a running process (a zombie waiting for its
// parent counts as gone: it holds nothing any more).
#pragma once
#include <signal.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace qs::platform {

inline bool pidAlive(pid_t pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return true;  // no /proc: kill's word stands
  char state = 0;
  int got = std::fscanf(f, "%*d (%*[^)]) %c", &state);
  std::fclose(f);
  return got != 1 || state != 'Z';
}

}  // namespace qs::platform
