#include "platform/serial_port.h"

#include <windows.h>

namespace qs::platform {
namespace {

HANDLE h(PortHandle port) { return reinterpret_cast<HANDLE>(port); }

}  // namespace

std::string serialDevicePath(const std::string& devicePath) { return devicePath; }

PortHandle serialOpen(const std::string& devicePath) {
  // Read and write, no sharing (a port that another program holds fails),
  // existing device only, synchronous I/O.
  HANDLE port = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    GetLastError();
    return kInvalidPort;
  }
  return reinterpret_cast<PortHandle>(port);
}

bool serialConfigure(PortHandle port, int baud) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(h(port), &dcb);
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.fBinary = TRUE;                   // Windows transfers in binary mode only
  dcb.fParity = FALSE;                  // no parity checking
  dcb.fOutxCtsFlow = FALSE;             // CTS does not hold output back
  dcb.fOutxDsrFlow = FALSE;             // DSR does not hold output back
  dcb.fDtrControl = DTR_CONTROL_DISABLE;  // DTR inactive
  dcb.fDsrSensitivity = FALSE;          // input taken whatever DSR says
  dcb.fTXContinueOnXoff = FALSE;        // no XON/XOFF in either direction ...
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;               // bytes with errors are not replaced
  dcb.fNull = FALSE;                    // NUL bytes are kept (frames carry them)
  dcb.fRtsControl = RTS_CONTROL_DISABLE;  // RTS inactive
  dcb.fAbortOnError = FALSE;            // an error does not stall the port
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  // XON/XOFF limits and characters, error, end-of-file and event characters
  // stay as the driver had them.
  if (!SetCommState(h(port), &dcb)) {
    GetLastError();
    return false;
  }
  return true;
}

bool serialSetTimeouts(PortHandle port) {
  COMMTIMEOUTS t{};
  GetCommTimeouts(h(port), &t);
  t.ReadIntervalTimeout = MAXDWORD;  // with the two zeros: return at once with what has arrived
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0;
  t.WriteTotalTimeoutMultiplier = 10;  // a write of n bytes may take 10*n + 1000 ms
  t.WriteTotalTimeoutConstant = 1000;
  if (!SetCommTimeouts(h(port), &t)) {
    GetLastError();
    return false;
  }
  return true;
}

bool serialClose(PortHandle port) {
  if (!CloseHandle(h(port))) {
    GetLastError();
    return false;
  }
  return true;
}

bool serialWrite(PortHandle port, const uint8_t* data, size_t size, int* errorCode) {
  DWORD written = 0;
  if (WriteFile(h(port), data, static_cast<DWORD>(size), &written, nullptr)) return true;
  if (errorCode) *errorCode = static_cast<int>(GetLastError());
  return false;
}

bool serialWaitInput(PortHandle port, uint32_t timeoutMs, uint8_t* taken) {
  // For this one read: return at once with a byte that is there, else wait
  // for the first to arrive, at most timeoutMs. Then reads return at once
  // again.
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(h(port), &t)) {
    Sleep(timeoutMs);
    return false;
  }
  COMMTIMEOUTS wait = t;
  wait.ReadIntervalTimeout = MAXDWORD;
  wait.ReadTotalTimeoutMultiplier = MAXDWORD;
  wait.ReadTotalTimeoutConstant = timeoutMs == 0 ? 1 : timeoutMs;
  if (!SetCommTimeouts(h(port), &wait)) {
    Sleep(timeoutMs);
    return false;
  }
  DWORD got = 0;
  BOOL ok = ReadFile(h(port), taken, 1, &got, nullptr);
  SetCommTimeouts(h(port), &t);
  if (!ok) Sleep(timeoutMs);  // a port that is gone fails at once: the wait is kept
  return ok && got == 1;
}

bool serialRead(PortHandle port, uint8_t* buffer, size_t max, size_t* count) {
  DWORD got = 0;
  BOOL ok = ReadFile(h(port), buffer, static_cast<DWORD>(max), &got, nullptr);
  *count = ok ? got : 0;
  return ok != 0;
}

}  // namespace qs::platform
