// Turns the bytes a terminal sends for key presses into the console's key
// codes: Enter 13, Backspace 8, Esc 27, cursor-block keys as 0xE0 and a scan
// code, F1-F9 as 0x00 and a scan code, anything else as typed (a character
// outside ASCII as its whole UTF-8 sequence).
#pragma once
#include <deque>
#include <string>

namespace qs::platform {

class KeyDecoder {
 public:
  void feed(const char* bytes, size_t count);
  // A sequence was cut short at the end of what has arrived; the caller waits
  // briefly for more and calls expire() when nothing comes.
  bool waitingForMore() const { return !pending_.empty(); }
  // What was left waiting is resolved: a lone ESC becomes the Esc key, an
  // unfinished escape sequence is dropped, unfinished UTF-8 bytes pass as typed.
  void expire();

  bool hasKey() const { return !keys_.empty(); }
  std::string popKey();

 private:
  void decode();
  // Returns false when `pending_` holds only the start of a sequence.
  bool decodeEscape();
  void emitCsi(const std::string& params, char final);

  std::string pending_;
  std::deque<std::string> keys_;
};

}  // namespace qs::platform
