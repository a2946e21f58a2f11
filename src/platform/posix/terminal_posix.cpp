// The console on a POSIX terminal: raw keyboard, the alternate screen, VT
// sequences for cursor, colour and title. The terminal's own settings are
// kept and put back on every way out (normal end, control signal,
// std::terminate).
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/console_control.h"
#include "platform/key_decoder.h"
#include "platform/terminal.h"

namespace qs::platform {
namespace {

constexpr int kEscWaitMs = 30;  // a lone ESC is one with nothing behind it for this long

void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      return;  // the terminal is gone; nothing sensible to do
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// Windows colour index (1 blue, 2 green, 4 red) to the ANSI one (1 red, 2 green, 4 blue).
int ansiColour(int windowsColour) {
  return ((windowsColour & 1) << 2) | (windowsColour & 2) | ((windowsColour & 4) >> 2);
}

class PosixTerminal final : public Terminal {
 public:
  ~PosixTerminal() override { restore(); }

  void setup(int columns, int rows) override {
    rows_ = rows;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_) == 0) {
      haveSaved_ = true;
      termios raw = saved_;
      raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
      raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
      raw.c_lflag |= ISIG;  // Ctrl+C stays a control event
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
#ifdef _POSIX_VDISABLE
      raw.c_cc[VSUSP] = _POSIX_VDISABLE;  // a suspended program would leave the line raw
      raw.c_cc[VQUIT] = _POSIX_VDISABLE;
#endif
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
    }
    active_ = true;
    addExitCleanup([this] { restore(); });
    char buf[96];
    // Alternate screen, ask for the size, auto-wrap off (the toolkit wraps),
    // scrolling region = the console's rows, normal colour, blank screen.
    std::snprintf(buf, sizeof buf, "\x1b[?1049h\x1b[8;%d;%dt\x1b[?7l\x1b[1;%dr", rows, columns, rows);
    out_ += buf;
    setAttribute(0x07);
    out_ += "\x1b[2J\x1b[H";
    flush();
  }

  void restore() override {
    std::lock_guard<std::mutex> lock(restoreMutex_);
    if (!active_) return;
    active_ = false;
    // Written directly: this may run on the signal watcher's thread.
    static const char kRestore[] = "\x1b[0m\x1b[r\x1b[?7h\x1b[?25h\x1b[?1049l";
    writeAll(STDOUT_FILENO, kRestore, sizeof kRestore - 1);
    if (haveSaved_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }

  void write(std::string_view utf8) override { out_.append(utf8); }

  void moveTo(int column, int row) override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "\x1b[%d;%dH", row + 1, column + 1);
    out_ += buf;
  }

  void setAttribute(uint16_t a) override {
    int fg = a & 0x0F, bg = (a >> 4) & 0x0F;
    char buf[32];
    std::snprintf(buf, sizeof buf, "\x1b[0;%d;%dm", (fg & 8 ? 90 : 30) + ansiColour(fg),
                  (bg & 8 ? 100 : 40) + ansiColour(bg));
    out_ += buf;
  }

  void scrollUp() override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "\x1b[%d;1H\n", rows_);  // a line feed on the last row of the region
    out_ += buf;
  }

  void setTitle(std::string_view utf8) override {
    out_ += "\x1b]0;";
    out_.append(utf8);
    out_ += "\x07";
  }

  void bell() override { out_ += "\x07"; }

  void flush() override {
    if (out_.empty()) return;
    writeAll(STDOUT_FILENO, out_.data(), out_.size());
    out_.clear();
  }

  // The console toolkit has put its output on the screen before it asks
  // for a key (under its own lock; output is not this reader's to flush).
  std::string readKey() override {
    while (!decoder_.hasKey()) {
      if (eof_) return std::string(1, '\x1b');  // no keyboard left: every prompt sees Esc
      fill(decoder_.waitingForMore() ? kEscWaitMs : -1);
    }
    return decoder_.popKey();
  }

  bool keyPending() override {
    if (!decoder_.hasKey() && !eof_) fill(0);
    if (!decoder_.hasKey() && decoder_.waitingForMore()) fill(kEscWaitMs);
    return decoder_.hasKey() || eof_;
  }

 private:
  // Reads what the keyboard has sent within `timeoutMs` (-1: wait).
  void fill(int timeoutMs) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r = ::poll(&p, 1, timeoutMs);
    if (r < 0) return;  // interrupted: the caller loops
    if (r == 0) {
      if (timeoutMs > 0) decoder_.expire();
      return;
    }
    char buf[256];
    ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n > 0) decoder_.feed(buf, static_cast<size_t>(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      // A terminal (read whole keys, never an end of input) that gives
      // none has hung up: its window was closed, which ends the program.
      if (haveSaved_ && !goneSaid_) {
        goneSaid_ = true;
        terminalGone();
      }
      decoder_.expire();
      eof_ = true;
    }
  }

  termios saved_{};
  bool haveSaved_ = false;
  bool active_ = false;
  bool eof_ = false;
  bool goneSaid_ = false;
  int rows_ = 38;
  std::string out_;
  KeyDecoder decoder_;
  std::mutex restoreMutex_;
};

}  // namespace

std::unique_ptr<Terminal> createSystemTerminal() { return std::make_unique<PosixTerminal>(); }

}  // namespace qs::platform
