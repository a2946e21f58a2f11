// The console toolkit: one fixed 100 x 38 text console with absolute cursor
// placement, colour attributes, printf-style output and three prompted
// editors. Every screen of the program draws through these operations.
//
// Text is UTF-8. A byte that is not part of well-formed UTF-8 is shown the
// way a byte (OEM 866) console shows it. Output reaches the terminal before
// each operation returns.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/terminal.h"

#if defined(__MINGW32__)
#define QS_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define QS_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define QS_PRINTF_FORMAT(f, a)
#endif

namespace qs {

constexpr int kConsoleColumns = 100;
constexpr int kConsoleRows = 38;

// Key codes as Console::readKey delivers them.
constexpr int kKeyEnter = 13;
constexpr int kKeyEsc = 27;
constexpr int kKeyBackspace = 8;
constexpr int kKeySpace = 32;
constexpr int kKeyPrefixCursor = 0xE0;  // followed by a scan code
constexpr int kKeyPrefixFunction = 0;   // followed by a scan code
constexpr int kScanUp = 0x48, kScanDown = 0x50, kScanPgUp = 0x49, kScanPgDn = 0x51;
constexpr int kScanLeft = 0x4B, kScanRight = 0x4D, kScanHome = 0x47, kScanEnd = 0x4F;
constexpr int kScanInsert = 0x52, kScanDelete = 0x53;
constexpr int kScanF1 = 0x3B;  // F1..F9 are 0x3B..0x43

// The installation's panel stands at columns kPanelLeft and on of rows
// kPanelTop to the last: the work area's clears and entries leave it alone.
constexpr int kPanelLeft = 80;
constexpr int kPanelTop = 19;

// Colour attributes in use.
constexpr uint16_t kAttrNormal = 0x07;    // light grey on black
constexpr uint16_t kAttrSelected = 0x80;  // black on dark grey: the selected row of a list
constexpr uint16_t kAttrWarning = 0x0E;   // yellow: what the operator must know
constexpr uint16_t kAttrChanged = 0x0F;   // bright white: bytes that differ from the device
// The editing cell of an editor whose colour is `c`: its inverse on dark grey.
constexpr uint16_t editCursorAttr(uint16_t c) { return static_cast<uint16_t>((~c & 0x0F) | 0x80); }

// Longest text an editor takes (its buffer holds 256 bytes with the terminator).
constexpr int kEditMax = 255;

struct ConsolePos {
  int16_t x = 0;  // column
  int16_t y = 0;  // row
};

namespace Console {

// Sets up the console on the process's own terminal (first action of the program).
void init();
// Sets up the console on the given terminal (the virtual console in tests).
// The terminal must outlive its use; init(nullptr) detaches it.
void init(platform::Terminal* terminal);

void gotoXY(int column, int row);
void setCursor(ConsolePos pos);
ConsolePos getCursor();
void setColor(uint16_t attribute);
uint16_t color();
void setTitle(const char* text);

// A drawing made whole between two outputs of another thread: the output
// is held while it lasts, and the cursor and colour are given back at its
// end, so that the other thread's next output lands where it meant it.
class Aside {
 public:
  Aside();
  ~Aside();
  Aside(const Aside&) = delete;
  Aside& operator=(const Aside&) = delete;

 private:
  ConsolePos at_;
  uint16_t attr_;
};

// printf-style output at the cursor; returns the number of bytes written.
int print(const char* format, ...) QS_PRINTF_FORMAT(1, 2);
int vprint(const char* format, va_list args);
// Prints a text as it stands, except that "%%" prints one percent sign.
void printText(const char* text);

// Blanks columns 0-76 (clearLines) or 0-95 (clearLinesWide) of `count` rows
// from `row` and leaves the cursor at column 0 of `row`. Columns from 77 on
// keep what they show (the installation panel stands there).
void clearLines(int row, int count);
void clearLinesWide(int row, int count);
// Blanks columns 0-79: a work area whose rows reach up to the panel.
void clearBeside(int row, int count);

// The editors show what is typed in a field: from where the prompt left
// the cursor to the end of that row's area (before the panel on its rows),
// the text scrolling within it when it is longer.
//
// Line editor: prints the prompt, takes up to maxLen bytes (at most 255 and
// what `dest` holds), echoes them. Left, Right, Home and End move in the
// text, Del and Backspace erase; no other cursor or function key is taken
// into a text. Enter returns 0, Esc 27. Text goes to dest only when
// something was typed and Enter ended it.
int readLine(const char* prompt, int maxLen, char* dest, size_t destSize);
template <size_t N>
int readLine(const char* prompt, int maxLen, char (&dest)[N]) {
  return readLine(prompt, maxLen, dest, N);
}
int readLine(const char* prompt, std::string& dest, int maxLen = kEditMax);

// Digit editor: digits and points only. The prompt is a printf format.
int readDigits(const char* format, char* dest, size_t destSize, ...) QS_PRINTF_FORMAT(1, 4);
// Number editor: digits, a decimal comma or point, a sign; Enter takes a
// number as written (stored in *out) or nothing, and leaves anything else in
// the field to be put right.
int readNumber(const char* prompt, double* out);

// Next key byte (waits, no echo). Cursor and function keys come as two bytes.
int readKey();
int keyPending();

// Takes the keys that are waiting, up to and including the first Esc; true
// when there was one. A wait that only Esc ends looks with this, so that
// keys typed meanwhile are dropped at once instead of costing it a turn each.
bool escAmongWaitingKeys();

// While one lasts, a device request that looks for Esc between its attempts
// takes no key: any key typed stops the request as Esc would, and stays,
// with every key after it, for the screen that made the request.
class KeysKept {
 public:
  KeysKept();
  ~KeysKept();
  KeysKept(const KeysKept&) = delete;
  KeysKept& operator=(const KeysKept&) = delete;
  // Whether a key typed since it began stopped a request.
  bool keyStopped() const;

 private:
  unsigned stopsBefore_;
};
// One byte straight to the console, shown as a byte console shows it.
void putChar(int byte);

}  // namespace Console
}  // namespace qs
