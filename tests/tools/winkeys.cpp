// qs-winkeys: types keys at a Windows console program as an operator would.
//
//   qs-winkeys KEYFILE PROGRAM [ARGS...]
//
// Starts PROGRAM in this console and writes a key event into the console's
// input for every line appended to KEYFILE: a key's name (Esc, Enter, Back,
// Tab, Space, Up, Down, Left, Right, Home, End, PgUp, PgDn, Ins, Del, F1 to
// F10) or "t:" and text, typed one character at a time. Ends with PROGRAM's
// exit status once it has ended. Terminals in front of a console (Wine's in
// tmux among them) cannot pass every key; key events written here reach the
// program exactly as a keyboard's would.
//
// Two lines stand for what an operator does to the console itself:
//   Ctrl-C  Ctrl+C in the console (GenerateConsoleCtrlEvent; this program
//           lets it pass);
//   Close   the console window closed: PROGRAM gets CTRL_CLOSE_EVENT the way
//           Windows sends it (a thread of its own at CtrlRoutine), and, as
//           Windows does, is ended if it is still running 5 s later; this
//           program then says so and ends with status 3.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Named {
  const char* name;
  WORD vk;
  wchar_t ch;
  bool enhanced;
};

const Named kKeys[] = {
    {"Esc", VK_ESCAPE, 0x1B, false}, {"Enter", VK_RETURN, L'\r', false}, {"Back", VK_BACK, L'\b', false},
    {"Tab", VK_TAB, L'\t', false},   {"Space", VK_SPACE, L' ', false},   {"Up", VK_UP, 0, true},
    {"Down", VK_DOWN, 0, true},      {"Left", VK_LEFT, 0, true},         {"Right", VK_RIGHT, 0, true},
    {"Home", VK_HOME, 0, true},      {"End", VK_END, 0, true},           {"PgUp", VK_PRIOR, 0, true},
    {"PgDn", VK_NEXT, 0, true},      {"Ins", VK_INSERT, 0, true},        {"Del", VK_DELETE, 0, true},
    {"F1", VK_F1, 0, false},         {"F2", VK_F2, 0, false},            {"F3", VK_F3, 0, false},
    {"F4", VK_F4, 0, false},         {"F5", VK_F5, 0, false},            {"F6", VK_F6, 0, false},
    {"F7", VK_F7, 0, false},         {"F8", VK_F8, 0, false},            {"F9", VK_F9, 0, false},
    {"F10", VK_F10, 0, false},
};

void press(HANDLE in, WORD vk, wchar_t ch, bool enhanced) {
  INPUT_RECORD r[2] = {};
  for (int i = 0; i < 2; ++i) {
    r[i].EventType = KEY_EVENT;
    KEY_EVENT_RECORD& k = r[i].Event.KeyEvent;
    k.bKeyDown = i == 0;
    k.wRepeatCount = 1;
    k.wVirtualKeyCode = vk;
    k.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyW(vk, 0));
    k.uChar.UnicodeChar = ch;
    k.dwControlKeyState = enhanced ? ENHANCED_KEY : 0;
  }
  DWORD written = 0;
  WriteConsoleInputW(in, r, 2, &written);
}

void typeText(HANDLE in, const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  for (wchar_t c : w) {
    SHORT scan = VkKeyScanW(c);
    press(in, scan == -1 ? 0 : static_cast<WORD>(scan & 0xFF), c, false);
  }
}

// What a closed console window does to the program: its control handlers
// run on a thread of their own with CTRL_CLOSE_EVENT; the program has 5 s.
constexpr DWORD kClosingMs = 5000;

struct Program {
  HANDLE process = nullptr;
  DWORD closedAt = 0;
  bool closed = false;
};

bool closeConsole(Program& program) {
  auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine")));
  if (routine == nullptr) {
    std::fprintf(stderr, "qs-winkeys: no CtrlRoutine in kernel32\n");
    return false;
  }
  // (kernel32 stands at the same address in every process of a session)
  HANDLE thread = CreateRemoteThread(program.process, nullptr, 0, routine,
                                     reinterpret_cast<LPVOID>(static_cast<DWORD_PTR>(CTRL_CLOSE_EVENT)), 0, nullptr);
  if (thread == nullptr) {
    std::fprintf(stderr, "qs-winkeys: cannot close the console (%lu)\n", GetLastError());
    return false;
  }
  CloseHandle(thread);
  program.closed = true;
  program.closedAt = GetTickCount();
  return true;
}

// Ctrl+C goes to every program of the console, this one too: let pass.
BOOL WINAPI passCtrlC(DWORD type) { return type == CTRL_C_EVENT ? TRUE : FALSE; }

bool keyLine(HANDLE in, Program& program, const std::string& line) {
  if (line == "Ctrl-C") return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
  if (line == "Close") return closeConsole(program);
  if (line.rfind("t:", 0) == 0) {
    typeText(in, line.substr(2));
    return true;
  }
  for (const Named& k : kKeys) {
    if (line == k.name) {
      press(in, k.vk, k.ch, k.enhanced);
      return true;
    }
  }
  std::fprintf(stderr, "qs-winkeys: unknown key \"%s\"\n", line.c_str());
  return false;
}

std::wstring quoted(const wchar_t* arg) {
  std::wstring q = L"\"";
  for (const wchar_t* p = arg; *p; ++p) {
    if (*p == L'"') q += L'\\';
    q += *p;
  }
  return q + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qs-winkeys KEYFILE PROGRAM [ARGS...]\n");
    return 2;
  }
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "qs-winkeys: no console input\n");
    return 2;
  }
  std::wstring command;
  for (int i = 2; i < argc; ++i) command += (i > 2 ? L" " : L"") + quoted(argv[i]);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "qs-winkeys: cannot start the program (%lu)\n", GetLastError());
    return 2;
  }
  CloseHandle(pi.hThread);
  SetConsoleCtrlHandler(passCtrlC, TRUE);
  Program program;
  program.process = pi.hProcess;

  // The key file is read from where the last complete line ended; a line
  // still being written is taken at the next look.
  long consumed = 0;
  std::string pending;
  while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT) {
    if (program.closed && GetTickCount() - program.closedAt >= kClosingMs) {
      std::fprintf(stderr, "qs-winkeys: the program was still running %lu ms after its console closed: ended\n",
                   kClosingMs);
      TerminateProcess(pi.hProcess, 3);
      WaitForSingleObject(pi.hProcess, INFINITE);
      CloseHandle(pi.hProcess);
      return 3;
    }
    FILE* f = _wfopen(argv[1], L"rb");
    if (!f) continue;
    if (std::fseek(f, consumed, SEEK_SET) == 0) {
      char buf[512];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        pending.append(buf, n);
        consumed += static_cast<long>(n);
      }
    }
    std::fclose(f);
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) keyLine(in, program, line);
    }
  }
  DWORD status = 1;
  GetExitCodeProcess(pi.hProcess, &status);
  CloseHandle(pi.hProcess);
  return static_cast<int>(status);
}
