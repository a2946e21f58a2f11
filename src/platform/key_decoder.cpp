#include "platform/key_decoder.h"

#include <cstdlib>

namespace qs::platform {
namespace {

constexpr char kEsc = 0x1B;

std::string cursorKey(unsigned char scan) { return std::string{static_cast<char>(0xE0), static_cast<char>(scan)}; }
std::string functionKey(unsigned char scan) { return std::string{'\0', static_cast<char>(scan)}; }

// Scan code of a cursor-block key named by the last letter of its sequence.
int letterScan(char c) {
  switch (c) {
    case 'A': return 0x48;  // Up
    case 'B': return 0x50;  // Down
    case 'C': return 0x4D;  // Right
    case 'D': return 0x4B;  // Left
    case 'H': return 0x47;  // Home
    case 'F': return 0x4F;  // End
    default: return -1;
  }
}

// Length of the UTF-8 sequence that starts with `lead`, 1 for anything else.
size_t utf8Length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

}  // namespace

void KeyDecoder::feed(const char* bytes, size_t count) {
  pending_.append(bytes, count);
  decode();
}

std::string KeyDecoder::popKey() {
  if (keys_.empty()) return {};
  std::string k = std::move(keys_.front());
  keys_.pop_front();
  return k;
}

void KeyDecoder::emitCsi(const std::string& params, char final) {
  int scan = letterScan(final);
  if (scan >= 0) {
    keys_.push_back(cursorKey(static_cast<unsigned char>(scan)));
    return;
  }
  if (final != '~') return;  // unknown: dropped whole
  switch (std::atoi(params.c_str())) {  // modifiers after ';' are ignored
    case 1: case 7: keys_.push_back(cursorKey(0x47)); break;  // Home
    case 4: case 8: keys_.push_back(cursorKey(0x4F)); break;  // End
    case 2: keys_.push_back(cursorKey(0x52)); break;          // Insert
    case 3: keys_.push_back(cursorKey(0x53)); break;          // Delete
    case 5: keys_.push_back(cursorKey(0x49)); break;          // PgUp
    case 6: keys_.push_back(cursorKey(0x51)); break;          // PgDn
    case 11: case 12: case 13: case 14: case 15:
      keys_.push_back(functionKey(static_cast<unsigned char>(0x3B + std::atoi(params.c_str()) - 11)));
      break;
    case 17: case 18: case 19: case 20:
      keys_.push_back(functionKey(static_cast<unsigned char>(0x40 + std::atoi(params.c_str()) - 17)));
      break;
    default: break;
  }
}

bool KeyDecoder::decodeEscape() {
  // pending_[0] is ESC.
  if (pending_.size() < 2) return false;
  char second = pending_[1];
  if (second == kEsc) {  // Esc pressed twice: the first one stands alone
    keys_.emplace_back(1, kEsc);
    pending_.erase(0, 1);
    return true;
  }
  if (second == 'O') {
    if (pending_.size() < 3) return false;
    char c = pending_[2];
    int scan = letterScan(c);
    if (scan >= 0) keys_.push_back(cursorKey(static_cast<unsigned char>(scan)));
    else if (c >= 'P' && c <= 'S') keys_.push_back(functionKey(static_cast<unsigned char>(0x3B + (c - 'P'))));
    pending_.erase(0, 3);
    return true;
  }
  if (second == '[') {
    // Linux console F1-F5: ESC [ [ A..E
    if (pending_.size() >= 3 && pending_[2] == '[') {
      if (pending_.size() < 4) return false;
      char c = pending_[3];
      if (c >= 'A' && c <= 'E') keys_.push_back(functionKey(static_cast<unsigned char>(0x3B + (c - 'A'))));
      pending_.erase(0, 4);
      return true;
    }
    size_t i = 2;
    while (i < pending_.size()) {
      unsigned char c = static_cast<unsigned char>(pending_[i]);
      if (c >= 0x40 && c <= 0x7E) {
        emitCsi(pending_.substr(2, i - 2), static_cast<char>(c));
        pending_.erase(0, i + 1);
        return true;
      }
      if (c < 0x20 || c > 0x3F) {  // not a CSI byte: drop what came so far
        pending_.erase(0, i);
        return true;
      }
      ++i;
    }
    return false;
  }
  // ESC followed by another key (Alt+key): an unknown sequence, dropped whole.
  size_t len = utf8Length(static_cast<unsigned char>(second));
  if (pending_.size() < 1 + len) return false;
  pending_.erase(0, 1 + len);
  return true;
}

void KeyDecoder::decode() {
  while (!pending_.empty()) {
    unsigned char c = static_cast<unsigned char>(pending_[0]);
    if (c == kEsc) {
      if (!decodeEscape()) return;
      continue;
    }
    if (c == '\r' || c == '\n') {
      keys_.emplace_back(1, '\r');
      pending_.erase(0, 1);
    } else if (c == 0x7F || c == 0x08) {
      keys_.emplace_back(1, '\b');
      pending_.erase(0, 1);
    } else if (c >= 0x80) {
      size_t len = utf8Length(c);
      if (pending_.size() < len) return;
      bool whole = true;
      for (size_t i = 1; i < len; ++i)
        if ((static_cast<unsigned char>(pending_[i]) & 0xC0) != 0x80) whole = false;
      if (!whole) len = 1;  // not UTF-8: the byte stands as typed
      keys_.push_back(pending_.substr(0, len));
      pending_.erase(0, len);
    } else {
      keys_.emplace_back(1, static_cast<char>(c));
      pending_.erase(0, 1);
    }
  }
}

void KeyDecoder::expire() {
  if (pending_.empty()) return;
  if (pending_[0] == kEsc) {
    if (pending_.size() == 1) keys_.emplace_back(1, kEsc);
    pending_.clear();  // an unfinished sequence is dropped
    return;
  }
  for (char c : pending_) keys_.emplace_back(1, c);
  pending_.clear();
}

}  // namespace qs::platform
