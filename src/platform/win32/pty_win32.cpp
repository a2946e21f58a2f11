#include "platform/pty.h"

namespace qs::platform {

bool ptyOpen(PseudoTerminal*) { return false; }
void ptyClose(PseudoTerminal* pty) { pty->master = -1; }
int ptyRead(const PseudoTerminal&, uint8_t*, size_t, int) { return -1; }
bool ptyWrite(const PseudoTerminal&, const uint8_t*, size_t) { return false; }
bool ptyLineSettings(const PseudoTerminal&, LineSettings*) { return false; }

}  // namespace qs::platform
