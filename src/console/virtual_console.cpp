#include "console/virtual_console.h"

#include "console/codepage.h"

namespace qs {

std::string keys::function(int n) { return std::string{'\0', static_cast<char>(0x3B + n - 1)}; }

VirtualConsole::VirtualConsole(int columns, int rows)
    : columns_(columns), rows_(rows), cells_(static_cast<size_t>(columns * rows)) {}

void VirtualConsole::setup(int columns, int rows) {
  columns_ = columns;
  rows_ = rows;
  attr_ = 0x07;
  cells_.assign(static_cast<size_t>(columns * rows), Cell{});
  col_ = row_ = 0;
  transcript_.clear();
}

void VirtualConsole::write(std::string_view utf8) {
  transcript_.append(utf8);
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    size_t n = decodeUtf8(utf8.data() + i, utf8.size() - i, &cp);
    if (n == 0) {
      cp = U'\uFFFD';
      n = 1;
    }
    i += n;
    if (col_ < columns_ && row_ < rows_) cells_[static_cast<size_t>(row_ * columns_ + col_)] = Cell{cp, attr_};
    if (col_ < columns_ - 1) ++col_;  // no wrap: the toolkit wraps
  }
}

void VirtualConsole::moveTo(int column, int row) {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return;
  col_ = column;
  row_ = row;
}

void VirtualConsole::scrollUp() {
  cells_.erase(cells_.begin(), cells_.begin() + columns_);
  cells_.insert(cells_.end(), static_cast<size_t>(columns_), Cell{U' ', attr_});
}

std::string VirtualConsole::readKey() {
  if (keys_.empty() && onIdle) {
    auto hook = onIdle;  // a copy: the hook may replace itself
    hook();
  }
  if (keys_.empty()) {
    ++starved_;
    return "\x1b";
  }
  std::string k = keys_.front().bytes;
  keys_.pop_front();
  return k;
}

bool VirtualConsole::keyPending() {
  if (keys_.empty() && onPoll) {
    auto hook = onPoll;
    hook();
  }
  return !keys_.empty() && keys_.front().early;
}

void VirtualConsole::pushKeys(std::initializer_list<std::string> keys) {
  for (const auto& k : keys) pushKey(k);
}

void VirtualConsole::type(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    size_t n = decodeUtf8(text.data() + i, text.size() - i, &cp);
    if (n == 0) n = 1;
    pushKey(text.substr(i, n));
    i += n;
  }
}

const VirtualConsole::Cell& VirtualConsole::cell(int column, int row) const {
  static const Cell kOutside{};
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return kOutside;
  return cells_[static_cast<size_t>(row * columns_ + column)];
}

std::string VirtualConsole::rowCells(int row) const {
  std::string out;
  for (int c = 0; c < columns_; ++c) appendUtf8(out, cell(c, row).ch);
  return out;
}

std::string VirtualConsole::text(int column, int row, int width) const {
  std::string out;
  for (int c = column; c < column + width; ++c) appendUtf8(out, cell(c, row).ch);
  return out;
}

std::string VirtualConsole::rowText(int row) const {
  std::string out = rowCells(row);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string VirtualConsole::screenText() const {
  std::string out;
  for (int r = 0; r < rows_; ++r) {
    if (r > 0) out += '\n';
    out += rowText(r);
  }
  return out;
}

void VirtualConsole::fill(char32_t ch) {
  for (auto& c : cells_) c.ch = ch;
}

}  // namespace qs
