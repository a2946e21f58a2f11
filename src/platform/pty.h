// Pseudo-terminals: the far end of a serial line for the device simulator
// and the tests (POSIX only; on Windows every call fails).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qs::platform {

struct PseudoTerminal {
  intptr_t master = -1;
  std::string slavePath;  // what a program opens as its serial port
};

bool ptyOpen(PseudoTerminal* pty);
void ptyClose(PseudoTerminal* pty);
// Bytes from the program, waiting up to `timeoutMs` for the first; -1 on error.
int ptyRead(const PseudoTerminal& pty, uint8_t* buffer, size_t max, int timeoutMs);
bool ptyWrite(const PseudoTerminal& pty, const uint8_t* data, size_t size);

// The line settings the program gave its end, as seen from this end.
struct LineSettings {
  int baud = 0;
  bool eightBits = false, parity = false, twoStopBits = false;
  bool hardwareFlow = false, softwareFlow = false;
  bool canonical = false, echo = false, outputProcessing = false, inputTranslation = false;
};
bool ptyLineSettings(const PseudoTerminal& pty, LineSettings* settings);

}  // namespace qs::platform
