#include "platform/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace qs::platform {

bool ptyOpen(PseudoTerminal* pty) {
  int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
    ::close(fd);
    return false;
  }
  char name[128];
  if (ptsname_r(fd, name, sizeof name) != 0) {
    ::close(fd);
    return false;
  }
  pty->master = fd;
  pty->slavePath = name;
  return true;
}

void ptyClose(PseudoTerminal* pty) {
  if (pty->master >= 0) ::close(static_cast<int>(pty->master));
  pty->master = -1;
}

int ptyRead(const PseudoTerminal& pty, uint8_t* buffer, size_t max, int timeoutMs) {
  pollfd p{static_cast<int>(pty.master), POLLIN, 0};
  int r;
  do r = ::poll(&p, 1, timeoutMs);
  while (r < 0 && errno == EINTR);
  if (r <= 0) return r;
  if (!(p.revents & POLLIN)) {
    // The program's end is not open (yet, or any more): poll says so at
    // once, so the wait is made here instead.
    if (timeoutMs > 0) ::poll(nullptr, 0, timeoutMs);
    return 0;
  }
  ssize_t n = ::read(static_cast<int>(pty.master), buffer, max);
  if (n < 0) return errno == EIO ? 0 : -1;
  return static_cast<int>(n);
}

bool ptyWrite(const PseudoTerminal& pty, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(pty.master), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{static_cast<int>(pty.master), POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ptyLineSettings(const PseudoTerminal& pty, LineSettings* s) {
  termios t{};
  if (tcgetattr(static_cast<int>(pty.master), &t) != 0) return false;
  switch (cfgetospeed(&t)) {
    case B1200: s->baud = 1200; break;
    case B2400: s->baud = 2400; break;
    case B4800: s->baud = 4800; break;
    case B9600: s->baud = 9600; break;
    case B19200: s->baud = 19200; break;
    case B38400: s->baud = 38400; break;
    case B57600: s->baud = 57600; break;
    case B115200: s->baud = 115200; break;
    default: s->baud = 0; break;
  }
  s->eightBits = (t.c_cflag & CSIZE) == CS8;
  s->parity = (t.c_cflag & PARENB) != 0;
  s->twoStopBits = (t.c_cflag & CSTOPB) != 0;
  s->hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
  s->softwareFlow = (t.c_iflag & (IXON | IXOFF)) != 0;
  s->canonical = (t.c_lflag & ICANON) != 0;
  s->echo = (t.c_lflag & ECHO) != 0;
  s->outputProcessing = (t.c_oflag & OPOST) != 0;
  s->inputTranslation = (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) != 0;
  return true;
}

}  // namespace qs::platform
