// An in-memory console: a grid of character cells with attributes, a cursor,
// Windows-like scrolling, and a script of keys. Screens run against it in
// tests exactly as they run on a real console.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/terminal.h"

namespace qs {

// Key texts for scripting (what a terminal delivers for one key).
namespace keys {
inline const std::string kEnter = "\r";
inline const std::string kEsc = "\x1b";
inline const std::string kBackspace = "\b";
inline const std::string kSpace = " ";
inline const std::string kUp = "\xE0\x48", kDown = "\xE0\x50", kLeft = "\xE0\x4B", kRight = "\xE0\x4D";
inline const std::string kPgUp = "\xE0\x49", kPgDn = "\xE0\x51", kHome = "\xE0\x47", kEnd = "\xE0\x4F";
// F1..F9
std::string function(int n);
}  // namespace keys

class VirtualConsole final : public platform::Terminal {
 public:
  struct Cell {
    char32_t ch = U' ';
    uint16_t attr = 0x07;
  };

  VirtualConsole(int columns = 100, int rows = 38);

  // Terminal
  void setup(int columns, int rows) override;
  void restore() override {}
  void write(std::string_view utf8) override;
  void moveTo(int column, int row) override;
  void setAttribute(uint16_t attribute) override { attr_ = attribute; }
  void scrollUp() override;
  void setTitle(std::string_view utf8) override { title_ = std::string(utf8); }
  void flush() override {}
  std::string readKey() override;
  bool keyPending() override;

  // Script: keys are taken in order. A pushed key is typed when the program
  // waits for a key; a pressed key is there at once, so that a program that
  // only looks whether a key is waiting (a device request) sees it too.
  // When the script is used up every read gets Esc (so a screen under test
  // always ends) and the shortfall is counted.
  void pushKey(const std::string& key) { keys_.push_back(Key{key, false}); }
  void pressKey(const std::string& key) { keys_.push_back(Key{key, true}); }
  void pushKeys(std::initializer_list<std::string> keys);
  // Each character of `text` as one key (UTF-8 characters whole).
  void type(const std::string& text);
  size_t keysLeft() const { return keys_.size(); }
  int starvedReads() const { return starved_; }
  // Called when the program waits for a key and the script is empty.
  std::function<void()> onIdle;
  // Called when the program only looks whether a key is waiting (a device
  // request between attempts) and none is.
  std::function<void()> onPoll;

  // The screen.
  int columns() const { return columns_; }
  int rows() const { return rows_; }
  const Cell& cell(int column, int row) const;
  uint16_t attrAt(int column, int row) const { return cell(column, row).attr; }
  // A whole row as UTF-8, every column; rowText trims trailing blanks.
  std::string rowCells(int row) const;
  std::string rowText(int row) const;
  // `width` cells of a row from `column`, as UTF-8.
  std::string text(int column, int row, int width) const;
  std::string screenText() const;  // all rows, trimmed, joined with '\n'
  int cursorColumn() const { return col_; }
  int cursorRow() const { return row_; }
  const std::string& title() const { return title_; }
  // Everything written since setup, in order (what scrolled or was
  // overwritten included).
  const std::string& transcript() const { return transcript_; }
  // Fills the whole screen with one character (to see what a clear leaves).
  void fill(char32_t ch);

 private:
  int columns_, rows_;
  std::vector<Cell> cells_;
  int col_ = 0, row_ = 0;
  uint16_t attr_ = 0x07;
  std::string title_;
  std::string transcript_;
  struct Key {
    std::string bytes;
    bool early;
  };
  std::deque<Key> keys_;
  int starved_ = 0;
};

}  // namespace qs
