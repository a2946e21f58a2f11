#include "platform/process.h"

#include <windows.h>
#include <io.h>

#include <string>
#include <vector>

namespace qs::platform {

std::string ownProgramPath(const char* argv0) {
  char buf[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  if (n > 0 && n < sizeof buf) return std::string(buf, n);
  return argv0 != nullptr ? argv0 : "qs.exe";
}

bool startInNewConsole(const std::string& program, const std::string& argument, int slot, ProcessId* id) {
  std::string name = program.substr(program.find_last_of("\\/") + 1);
  std::string line = name + " " + argument;
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNOACTIVATE;
  static const int kX[4] = {0, 0, 500, 500};
  static const int kY[4] = {0, 500, 500, 0};
  if (slot >= 0 && slot < 4) {
    si.dwFlags |= STARTF_USEPOSITION;
    si.dwX = static_cast<DWORD>(kX[slot]);
    si.dwY = static_cast<DWORD>(kY[slot]);
  }
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP | CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &si,
                      &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  if (id != nullptr) id->value = reinterpret_cast<intptr_t>(pi.hProcess);
  else CloseHandle(pi.hProcess);
  return true;
}

uint32_t ownProcessId() { return GetCurrentProcessId(); }

void useUtf8Output() { SetConsoleOutputCP(CP_UTF8); }

void onFork(void (*)(), void (*)(), void (*)()) {}

void writeText(std::FILE* out, const std::string& utf8) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) {
    std::fwrite(utf8.data(), 1, utf8.size(), out);
    return;
  }
  std::fflush(out);
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  DWORD written = 0;
  WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

std::string workstationName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return "";
  char utf8[4 * (MAX_COMPUTERNAME_LENGTH + 1)] = "";
  int n = WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size), utf8, sizeof utf8 - 1, nullptr, nullptr);
  return std::string(utf8, n > 0 ? static_cast<size_t>(n) : 0);
}

bool pidRunning(uint32_t pid) {
  if (pid == 0) return false;
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours to watch
  bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

uint64_t processStartMark(uint32_t pid) {
  if (pid == 0) return 0;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (h == nullptr) return 0;
  FILETIME created{}, exited{}, kernel{}, user{};
  BOOL ok = GetProcessTimes(h, &created, &exited, &kernel, &user);
  CloseHandle(h);
  if (!ok) return 0;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

bool processAlive(ProcessId id) {
  if (id.value == 0) return false;
  return WaitForSingleObject(reinterpret_cast<HANDLE>(id.value), 0) == WAIT_TIMEOUT;
}

void terminateProcess(ProcessId id) {
  if (id.value == 0) return;
  HANDLE h = reinterpret_cast<HANDLE>(id.value);
  TerminateProcess(h, 0);
  WaitForSingleObject(h, 5000);
  CloseHandle(h);
}

}  // namespace qs::platform
