#include "console/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "console/codepage.h"
#include "console/number_text.h"
#include "platform/console_control.h"
#include "platform/process.h"
#include "platform/time.h"

namespace qs {
namespace {

// Stands in before init: swallows output, and every key is Esc.
class NullTerminal final : public platform::Terminal {
 public:
  void setup(int, int) override {}
  void restore() override {}
  void write(std::string_view) override {}
  void moveTo(int, int) override {}
  void setAttribute(uint16_t) override {}
  void scrollUp() override {}
  void setTitle(std::string_view) override {}
  void flush() override {}
  std::string readKey() override { return std::string(1, static_cast<char>(kKeyEsc)); }
  bool keyPending() override { return false; }
};

// What the toolkit knows of the screen. The cursor is tracked here, so
// getCursor never asks the terminal; text is wrapped at the last column and
// the screen scrolled at the last row the way the Windows console does.
struct Screen {
  platform::Terminal* term = nullptr;
  int col = 0, row = 0;
  uint16_t attr = kAttrNormal;
  // Pending run of characters on one row, not yet handed to the terminal.
  std::string run;
  int runCol = 0, runRow = 0, runEnd = 0;
  // Where the terminal's own cursor stands (-1: unknown).
  int termCol = -1, termRow = -1;
  std::deque<unsigned char> keyBytes;  // the rest of a key read byte by byte
  // Keys typed while a request ran under KeysKept, whole, for the screen.
  std::deque<std::string> kept;
  int keeping = 0;          // KeysKept scopes open
  unsigned keptStops = 0;   // requests a kept key stopped
};

// Keys taken into the kept queue at one look, at most (a terminal whose
// keyboard is gone has an Esc for every look).
constexpr size_t kKeptMax = 1024;

NullTerminal gNull;
Screen gScreen = [] {
  Screen s;
  s.term = &gNull;
  return s;
}();
std::recursive_mutex gOutput;
// Key reading: the leftover bytes of a key and the terminal's key decoder
// belong to one reader at a time (the master's console and its thread may
// both look for keys).
std::recursive_mutex gKeys;

// A process forked while another thread draws or reads a key would start
// with that thread's lock taken and nobody to release it. The program
// itself starts processes by exec, but a fork (the stand's tests make their
// benches so) gets the output whole and both locks free.
const int gForkSafe = [] {
  platform::onFork([] { gOutput.lock(); }, [] { gOutput.unlock(); },
                   [] {
                     new (&gOutput) std::recursive_mutex;
                     new (&gKeys) std::recursive_mutex;
                   });
  return 0;
}();

void flushRun() {
  Screen& s = gScreen;
  if (s.run.empty()) return;
  if (s.termCol != s.runCol || s.termRow != s.runRow) s.term->moveTo(s.runCol, s.runRow);
  s.term->write(s.run);
  s.run.clear();
  s.termRow = s.runRow;
  s.termCol = s.runEnd < kConsoleColumns ? s.runEnd : -1;  // the terminal does not wrap
}

void newLine() {
  Screen& s = gScreen;
  flushRun();
  s.col = 0;
  if (++s.row >= kConsoleRows) {
    s.term->scrollUp();
    s.row = kConsoleRows - 1;
    s.termCol = s.termRow = -1;
  }
}

void putGlyph(char32_t cp) {
  Screen& s = gScreen;
  if (s.run.empty()) {
    s.runCol = s.col;
    s.runRow = s.row;
  }
  appendUtf8(s.run, cp);
  s.runEnd = ++s.col;
  if (s.col >= kConsoleColumns) newLine();
}

// One byte as a byte console shows it (controls act, the rest are glyphs).
void putByte(unsigned char b) {
  Screen& s = gScreen;
  switch (b) {
    case '\n': newLine(); return;
    case '\r': flushRun(); s.col = 0; return;
    case '\b': flushRun(); if (s.col > 0) --s.col; return;
    case '\t':
      do putGlyph(' ');
      while (s.col % 8 != 0);
      return;
    case '\a': flushRun(); s.term->bell(); return;
    default: putGlyph(oemGlyph(b)); return;
  }
}

void writeText(const char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(p[i]);
    char32_t cp;
    size_t len = b < 0x80 ? 0 : decodeUtf8(p + i, n - i, &cp);
    if (len == 0) {
      putByte(b);
      ++i;
    } else {
      putGlyph(cp);
      i += len;
    }
  }
}

// Ends an output operation: the terminal's cursor where the toolkit's is, and
// everything on the screen.
void settle() {
  Screen& s = gScreen;
  flushRun();
  if (s.termCol != s.col || s.termRow != s.row) {
    s.term->moveTo(s.col, s.row);
    s.termCol = s.col;
    s.termRow = s.row;
  }
  s.term->flush();
}

void clearBand(int row, int count, int width) {
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  const std::string blanks(static_cast<size_t>(width), ' ');
  for (int r = row; r < row + count && r < kConsoleRows; ++r) {
    if (r < 0) continue;
    Console::gotoXY(0, r);
    writeText(blanks.data(), blanks.size());
  }
  Console::gotoXY(0, row);
}

// The terminal's next key (waits), its output on the screen first.
std::string terminalKey() {
  Screen& s = gScreen;
  {
    std::lock_guard<std::recursive_mutex> lock(gOutput);
    settle();
  }
  std::string k = s.term->readKey();
  if (k.empty()) k = std::string(1, static_cast<char>(kKeyEsc));
  return k;
}

// What a request made under KeysKept gets for a key: Esc, while the key
// that stopped it (one waiting, or the next typed) stays for the screen.
std::string stopForKeptKey() {
  Screen& s = gScreen;
  if (s.keyBytes.empty() && s.kept.empty()) s.kept.push_back(terminalKey());
  ++s.keptStops;
  return std::string(1, static_cast<char>(kKeyEsc));
}

// Moves what the terminal has waiting into the kept queue.
void keepWaitingKeys() {
  Screen& s = gScreen;
  while (s.kept.size() < kKeptMax && s.term->keyPending()) s.kept.push_back(s.term->readKey());
}

// One key, whole: its bytes as the terminal delivered them, or what is left
// of a key that was partly read with readKey, or a key kept while a request
// ran.
std::string nextKey() {
  std::lock_guard<std::recursive_mutex> keys(gKeys);
  Screen& s = gScreen;
  if (s.keeping > 0) return stopForKeptKey();
  if (!s.keyBytes.empty()) {
    std::string k(1, static_cast<char>(s.keyBytes.front()));
    s.keyBytes.pop_front();
    return k;
  }
  if (!s.kept.empty()) {
    std::string k = s.kept.front();
    s.kept.pop_front();
    if (k.empty()) k = std::string(1, static_cast<char>(kKeyEsc));
    return k;
  }
  return terminalKey();
}

// One cell of an entry: a byte as a byte console shows it, or a character.
void putPiece(const std::string& piece) {
  if (piece.size() == 1) putGlyph(oemGlyph(static_cast<unsigned char>(piece[0])));
  else writeText(piece.data(), piece.size());
}

enum class Accept { Any, Digits, Decimal };

// The cells an entry shows its text in: its field, from where the prompt
// left the cursor to the end of that row's area, never past it. A text
// longer than the field scrolls within it, so that the cell of the cursor
// is always shown. Columns from 80 on of rows 19 to 37 are the
// installation's panel; the last cell of the last row is never written
// (the console would scroll there).
class EntryField {
 public:
  EntryField() {
    ConsolePos p = Console::getCursor();
    col_ = p.x;
    row_ = p.y;
    int end = kConsoleColumns;
    if (row_ >= kPanelTop && col_ < kPanelLeft) end = kPanelLeft;
    else if (row_ == kConsoleRows - 1) end = kConsoleColumns - 1;
    if (col_ > end - 1) col_ = end - 1;  // (a prompt that filled its row: the field is its last cell)
    width_ = static_cast<size_t>(end - col_);
    shown_.assign(width_, std::string());
  }
  // Shows `pieces` (a cell each) with the cursor on cell `at` of the text.
  // Only cells that change are drawn; a cell the entry never used is not
  // blanked.
  void show(const std::vector<std::string>& pieces, size_t at) {
    std::lock_guard<std::recursive_mutex> lock(gOutput);
    if (at < first_) first_ = at;
    if (at >= first_ + width_) first_ = at - width_ + 1;
    size_t fullest = pieces.size() + 1 > width_ ? pieces.size() + 1 - width_ : 0;
    if (first_ > fullest) first_ = fullest;
    std::vector<std::string> want(width_);
    size_t from = width_, to = 0;  // the cells that change
    for (size_t i = 0; i < width_; ++i) {
      size_t t = first_ + i;
      want[i] = t < pieces.size() ? pieces[t] : shown_[i].empty() ? std::string() : " ";
      if (want[i] == shown_[i]) continue;
      if (from == width_) from = i;
      to = i + 1;
    }
    if (from < to) {
      Console::gotoXY(col_ + static_cast<int>(from), row_);
      for (size_t i = from; i < to; ++i) {
        putPiece(want[i]);  // (cells never used are all after the last that changes)
        shown_[i] = want[i];
      }
    }
    Console::gotoXY(col_ + static_cast<int>(at - first_), row_);
  }

 private:
  int col_ = 0, row_ = 0;
  size_t width_ = 1;
  size_t first_ = 0;                // the first cell of the text shown
  std::vector<std::string> shown_;  // what each cell of the field shows ("" never drawn)
};

// The editing loop of the three editors. Returns 0 (Enter) or 27 (Esc);
// `text` holds what was typed. Left, Right, Home and End move in the text,
// Del erases the character under the cursor and Backspace the one before it;
// no other cursor or function key is ever part of a text.
int edit(size_t maxLen, Accept accept, std::string& text) {
  std::vector<std::string> pieces;  // one cell each
  size_t bytes = 0;
  size_t pos = 0;                   // the cursor, in cells
  EntryField field;
  text.clear();
  for (;;) {
    std::string key = nextKey();
    if (key.size() == 1) {
      unsigned char k = static_cast<unsigned char>(key[0]);
      if (k == kKeyEnter) {
        for (const std::string& piece : pieces) text += piece;
        // A number editor takes Enter only for a number (or nothing): what
        // is not one stays in the field to be put right.
        if (accept == Accept::Decimal && !text.empty() && !parseDecimal(text)) {
          text.clear();
          continue;
        }
        field.show(pieces, pieces.size());
        return 0;
      }
      if (k == kKeyEsc) {
        text.clear();
        return kKeyEsc;
      }
      if (k == kKeyBackspace) {
        if (pos > 0) {
          bytes -= pieces[pos - 1].size();
          pieces.erase(pieces.begin() + static_cast<long>(pos - 1));
          --pos;
          field.show(pieces, pos);
        }
        continue;
      }
    }
    if (key.size() == 2 && (key[0] == static_cast<char>(kKeyPrefixCursor) || key[0] == kKeyPrefixFunction)) {
      switch (static_cast<unsigned char>(key[1])) {
        case kScanLeft: if (pos > 0) --pos; break;
        case kScanRight: if (pos < pieces.size()) ++pos; break;
        case kScanHome: pos = 0; break;
        case kScanEnd: pos = pieces.size(); break;
        case kScanDelete:
          if (pos < pieces.size()) {
            bytes -= pieces[pos].size();
            pieces.erase(pieces.begin() + static_cast<long>(pos));
          }
          break;
        default: break;  // not a character: not part of the text
      }
      field.show(pieces, pos);
      continue;
    }
    if (accept == Accept::Digits) {
      if (key.size() != 1 || !((key[0] >= '0' && key[0] <= '9') || key[0] == '.')) continue;
    }
    if (accept == Accept::Decimal) {
      if (key.size() != 1 || std::string_view("0123456789.,-+").find(key[0]) == std::string_view::npos) continue;
    }
    char32_t cp;
    bool whole = key.size() == 1 || decodeUtf8(key.data(), key.size(), &cp) == key.size();
    if (!whole || (key.size() == 1 && static_cast<unsigned char>(key[0]) < 0x20 && key[0] != '\t')) continue;
    if (bytes + key.size() > maxLen) continue;  // full: dropped without a signal
    pieces.insert(pieces.begin() + static_cast<long>(pos), key);
    bytes += key.size();
    ++pos;
    field.show(pieces, pos);
  }
}

size_t capacityOf(int maxLen, size_t destSize) {
  size_t cap = destSize == 0 ? 0 : destSize - 1;
  if (maxLen < 0) maxLen = 0;
  if (static_cast<size_t>(maxLen) < cap) cap = static_cast<size_t>(maxLen);
  return cap < static_cast<size_t>(kEditMax) ? cap : static_cast<size_t>(kEditMax);
}

void storeIfTyped(const std::string& text, char* dest) {
  if (text.empty()) return;
  std::memcpy(dest, text.data(), text.size());
  dest[text.size()] = '\0';
}

}  // namespace

namespace Console {

void init() {
  static platform::Terminal* system = platform::createSystemTerminal().release();  // lives to the end
  platform::initTiming();
  platform::startConsoleControl();
  init(system);
}

void init(platform::Terminal* terminal) {
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  Screen& s = gScreen;
  s = Screen{};
  s.term = terminal != nullptr ? terminal : &gNull;
  s.term->setup(kConsoleColumns, kConsoleRows);
  s.term->moveTo(0, 0);
  s.termCol = s.termRow = 0;
  s.term->flush();
}

void gotoXY(int column, int row) {
  if (column < 0 || column >= kConsoleColumns || row < 0 || row >= kConsoleRows) return;
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  flushRun();
  gScreen.col = column;
  gScreen.row = row;
  settle();
}

void setCursor(ConsolePos pos) { gotoXY(pos.x, pos.y); }

ConsolePos getCursor() {
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  return ConsolePos{static_cast<int16_t>(gScreen.col), static_cast<int16_t>(gScreen.row)};
}

void setColor(uint16_t attribute) {
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  flushRun();
  gScreen.attr = attribute;
  gScreen.term->setAttribute(attribute);
  gScreen.term->flush();
}

uint16_t color() { return gScreen.attr; }

Aside::Aside() {
  gOutput.lock();
  at_ = getCursor();
  attr_ = color();
}

Aside::~Aside() {
  setColor(attr_);
  setCursor(at_);
  gOutput.unlock();
}

void setTitle(const char* text) {
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  gScreen.term->setTitle(text != nullptr ? text : "");
  gScreen.term->flush();
}

int vprint(const char* format, va_list args) {
  char small[512];
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  if (n < 0) {
    va_end(again);
    return 0;
  }
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  if (static_cast<size_t>(n) < sizeof small) {
    writeText(small, static_cast<size_t>(n));
  } else {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    writeText(big.data(), static_cast<size_t>(n));
  }
  va_end(again);
  settle();
  return n;
}

int print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vprint(format, args);
  va_end(args);
  return n;
}

void printText(const char* text) {
  if (text == nullptr) return;
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    out += *p;
    if (p[0] == '%' && p[1] == '%') ++p;
  }
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  writeText(out.data(), out.size());
  settle();
}

void clearLines(int row, int count) { clearBand(row, count, 77); }

void clearLinesWide(int row, int count) { clearBand(row, count, 96); }

void clearBeside(int row, int count) { clearBand(row, count, 80); }

int readLine(const char* prompt, int maxLen, char* dest, size_t destSize) {
  printText(prompt);
  std::string text;
  int result = edit(capacityOf(maxLen, destSize), Accept::Any, text);
  if (result == 0) storeIfTyped(text, dest);
  return result;
}

int readLine(const char* prompt, std::string& dest, int maxLen) {
  printText(prompt);
  std::string text;
  int result = edit(capacityOf(maxLen, static_cast<size_t>(kEditMax) + 1), Accept::Any, text);
  if (result == 0 && !text.empty()) dest = text;
  return result;
}

int readDigits(const char* format, char* dest, size_t destSize, ...) {
  va_list args;
  va_start(args, destSize);
  vprint(format, args);
  va_end(args);
  std::string text;
  int result = edit(capacityOf(kEditMax, destSize), Accept::Digits, text);
  if (result == 0) storeIfTyped(text, dest);
  return result;
}

int readNumber(const char* prompt, double* out) {
  printText(prompt);
  std::string text;
  int result = edit(static_cast<size_t>(kEditMax), Accept::Decimal, text);
  std::optional<double> v = parseDecimal(text);
  if (result == 0 && v && out != nullptr) *out = *v;
  return result;
}

int readKey() {
  std::lock_guard<std::recursive_mutex> keys(gKeys);
  Screen& s = gScreen;
  if (s.keeping > 0) {
    stopForKeptKey();
    return kKeyEsc;
  }
  if (s.keyBytes.empty()) {
    std::string k = nextKey();
    s.keyBytes.assign(k.begin(), k.end());
  }
  int b = s.keyBytes.front();
  s.keyBytes.pop_front();
  return b;
}

int keyPending() {
  // A thread that waits for a key owns the keyboard meanwhile: the key it
  // waits for is not pending for anybody else.
  std::unique_lock<std::recursive_mutex> keys(gKeys, std::try_to_lock);
  if (!keys.owns_lock()) return 0;
  Screen& s = gScreen;
  if (s.keeping > 0) {
    keepWaitingKeys();
    return (!s.keyBytes.empty() || !s.kept.empty()) ? 1 : 0;
  }
  return (!s.keyBytes.empty() || !s.kept.empty() || s.term->keyPending()) ? 1 : 0;
}

bool escAmongWaitingKeys() {
  std::unique_lock<std::recursive_mutex> keys(gKeys, std::try_to_lock);
  if (!keys.owns_lock()) return false;
  for (size_t n = 0; n < kKeptMax && keyPending(); ++n)
    if (readKey() == kKeyEsc) return true;
  return false;
}

KeysKept::KeysKept() {
  std::lock_guard<std::recursive_mutex> keys(gKeys);
  ++gScreen.keeping;
  stopsBefore_ = gScreen.keptStops;
}

KeysKept::~KeysKept() {
  std::lock_guard<std::recursive_mutex> keys(gKeys);
  --gScreen.keeping;
}

bool KeysKept::keyStopped() const {
  std::lock_guard<std::recursive_mutex> keys(gKeys);
  return gScreen.keptStops != stopsBefore_;
}

void putChar(int byte) {
  std::lock_guard<std::recursive_mutex> lock(gOutput);
  putByte(static_cast<unsigned char>(byte));
  settle();
}

}  // namespace Console
}  // namespace qs
