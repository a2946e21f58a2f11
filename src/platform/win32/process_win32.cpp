#include "platform/process.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/console_control.h"

namespace qs::platform {
namespace {

// The console's output code page from before useUtf8Output, to be put back
// as the program ends (0: nothing to put back).
std::atomic<UINT> gPreviousOutputCodePage{0};

void restoreOutputCodePage() {
  UINT previous = gPreviousOutputCodePage.exchange(0);
  if (previous != 0) SetConsoleOutputCP(previous);
}

// UTF-16 units given to WriteConsoleW at a time: a console takes a bounded
// amount per call.
constexpr size_t kConsoleChunk = 8192;

bool highSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Writes every character of `text` to the console `h`, chunk by chunk; a
// chunk never ends between the two halves of a surrogate pair. False when
// the console takes nothing more.
bool writeConsole(HANDLE h, const std::wstring& text) {
  size_t at = 0;
  while (at < text.size()) {
    size_t left = text.size() - at;
    size_t n = std::min(kConsoleChunk, left);
    if (n < left && highSurrogate(text[at + n - 1])) --n;
    DWORD written = 0;
    if (!WriteConsoleW(h, text.data() + at, static_cast<DWORD>(n), &written, nullptr)) return false;
    if (written == 0 || written > n) return false;
    at += written;
  }
  return true;
}

std::string utf8Of(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));  // without the terminating zero
  return out;
}

}  // namespace

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

// The output code page belongs to the console, which the shell that started
// qs shares: the previous one is put back however qs ends (return from
// main, exit(), Ctrl+C, a closed window, std::terminate), as the terminal
// puts back its console mode.
void useUtf8Output() {
  static std::once_flag once;
  std::call_once(once, [] {
    UINT previous = GetConsoleOutputCP();  // 0: no console
    if (previous == 0 || previous == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
    gPreviousOutputCodePage = previous;
    startConsoleControl();
    addExitCleanup(restoreOutputCodePage);
  });
}

void onFork(void (*)(), void (*)(), void (*)()) {}

bool writeText(std::FILE* out, const std::string& utf8) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) {
    bool whole = std::fwrite(utf8.data(), 1, utf8.size(), out) == utf8.size();
    return std::fflush(out) == 0 && whole;
  }
  if (std::fflush(out) != 0) return false;  // what the stream holds goes first
  if (utf8.empty()) return true;
  if (utf8.size() > 0x7FFFFFFF) return false;
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return writeConsole(h, wide);
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {  // no wide command line to be had: the narrow one
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) args.emplace_back(argv[i]);
    return args;
  }
  for (int i = 0; i < count; ++i) args.push_back(utf8Of(wide[i]));
  LocalFree(wide);
  return args;
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
  // Only "no such process" means gone; a process that is there but not
  // ours to watch (access refused), or one that cannot be told, is taken
  // as running.
  if (h == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
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
