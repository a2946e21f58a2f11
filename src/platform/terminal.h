// A text screen with a keyboard: the one interface behind which the Windows
// console, a POSIX terminal and the in-memory virtual console sit.
//
// The console toolkit above it keeps track of the cursor, wraps and scrolls
// text itself, and hands the screen only simple steps: write a run of
// printable characters that stays on the current row, move the cursor,
// change the colour, scroll the whole screen up one row.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qs::platform {

class Terminal {
 public:
  virtual ~Terminal() = default;

  // Takes over the screen: size (columns x rows), raw keyboard, blank screen
  // in the normal colour, cursor at the top-left corner.
  virtual void setup(int columns, int rows) = 0;
  // Gives the screen back as it was found. Safe to call more than once.
  virtual void restore() = 0;

  // Writes UTF-8 text at the cursor; the text holds printable characters only
  // and never runs past the last column. The cursor ends behind the text.
  virtual void write(std::string_view utf8) = 0;
  virtual void moveTo(int column, int row) = 0;
  // 16-bit console attribute: bits 0-3 foreground (1 blue, 2 green, 4 red,
  // 8 bright), bits 4-7 background likewise.
  virtual void setAttribute(uint16_t attribute) = 0;
  // Moves every row up by one; the last row becomes blank in the current colour.
  virtual void scrollUp() = 0;
  virtual void setTitle(std::string_view utf8) = 0;
  virtual void bell() {}
  // Everything written so far reaches the screen before this returns.
  virtual void flush() = 0;

  // Waits for a key and returns its bytes: one byte for an ordinary key,
  // 0xE0 or 0x00 followed by a scan code for cursor and function keys,
  // the UTF-8 bytes of a character typed outside ASCII.
  virtual std::string readKey() = 0;
  virtual bool keyPending() = 0;
};

// The terminal of this process (Windows console or POSIX terminal).
std::unique_ptr<Terminal> createSystemTerminal();

}  // namespace qs::platform
