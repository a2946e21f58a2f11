// The EEPROM screen: a hex dump of the device's 4096-byte EEPROM read where
// the operator looks, edited in place, programmed back run by run, and kept
// as Intel HEX files.
#pragma once
#include <cstdint>
#include <string>

#include "eeprom/intel_hex.h"

namespace qs {

class DevLink;
struct DeviceState;

inline constexpr int kBytesPerRow = 16;
inline constexpr int kRowsPerPage = 32;
inline constexpr int kReadBlock = 128;
inline constexpr int kWriteChunk = 16;

class EepromEditor {
 public:
  explicit EepromEditor(DevLink& link);

  int run();
  int readBlock(int address, int n);
  // Whether row `r` is shown as not read ("--"): a read of it failed, and
  // it is read again only when asked (r) or when the image is saved.
  bool unreadable(int r) const { return r >= 0 && r < kEepromSize / kBytesPerRow && unreadable_[r]; }
  int writeRange(int address, int n);
  void drawRow(int r);
  void drawCursor();
  // A byte typed in hex: its value, or -27 when cancelled. A digit typed past
  // `maxDigits` is left in *pending (when given) for the next byte.
  int editByte(int first, int maxDigits, int* pending);
  int nextModified(int from, int* length) const;
  // Writes the changed bytes: 0 when all were written (or none was
  // changed), 27 when the operator declined, or the failing write's result
  // minus 1000 (the bytes not written keep their mark).
  int program(bool ask);
  void reread();
  // 0 with a file name, -1 when cancelled.
  int askFileName(std::string& name);
  int saveHex(const std::string& path);
  int loadHex(const std::string& path);

  DevLink& link;
  DeviceState& state;
  int column = 0;
  int row = 0;
  int firstScreenRow = 4;
  int bytesPerRow = kBytesPerRow;
  int top = 0;
  uint8_t image[kEepromSize];
  uint8_t flags[kEepromSize] = {};
  int size = kEepromSize;
  int colourToggle = 0;

 private:
  // Reads the block that row `r` begins for drawing it; a key typed
  // meanwhile stops the read and is kept for the screen.
  void readForDrawing(int r);

  bool programmedSomething_ = false;  // the last programming had bytes to write
  bool unreadable_[kEepromSize / kBytesPerRow] = {};
};

}  // namespace qs
