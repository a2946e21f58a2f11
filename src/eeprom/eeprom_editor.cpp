#include "eeprom/eeprom_editor.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "console/console.h"
#include "console/text_file.h"
#include "console/whole_file.h"
#include "devlink/dev_link.h"

namespace qs {
namespace {

constexpr const char* kKeyLine = "<s/o> - Запись/Чтение Eeprom на/с диск(а). <w/r> - Програм./Чтение Eeprom.";

int hexValue(int key) {
  if (key >= '0' && key <= '9') return key - '0';
  if (key >= 'a' && key <= 'f') return key - 'a' + 10;
  if (key >= 'A' && key <= 'F') return key - 'A' + 10;
  return -1;
}

char shown(uint8_t b) { return (b < 0x20 || b == 0xFF) ? '.' : static_cast<char>(b); }

// A byte not read from the device (nor typed, nor loaded) is shown as
// not known.
constexpr const char* kNotReadHex = "--";
constexpr char kNotReadChar = '-';

// The longest HEX file the reader takes: 257 lines of at most 1023 characters.
constexpr size_t kHexFileMax = 257 * 1023;

bool askYes(const char* question) {
  Console::clearLines(2, 1);
  Console::print("%s", question);
  int key = Console::readKey();
  Console::clearLines(2, 1);
  return key == 'y' || key == 'Y';
}

}  // namespace

EepromEditor::EepromEditor(DevLink& l) : link(l), state(*l.state) {
  std::memset(image, 0xFF, sizeof image);  // an erased EEPROM until a row is read
}

int EepromEditor::readBlock(int address, int n) {
  if (address < 0 || address >= size) return 0;
  if (n > size - address) n = size - address;
  if (n <= 0) return 0;
  uint8_t block[kEepromSize];
  int r = link.readEepromBlock(address, n, block);
  if (r != 0) return r;
  // Bytes changed here (typed, or loaded from a file) are kept: the device's
  // copy does not overwrite them.
  for (int i = 0; i < n; ++i) {
    if (flags[address + i] & kFlagModified) continue;
    image[address + i] = block[i];
    flags[address + i] = kFlagRead;
  }
  for (int r = address / bytesPerRow; r <= (address + n - 1) / bytesPerRow; ++r) unreadable_[r] = false;
  return 0;
}

void EepromEditor::readForDrawing(int r) {
  int a = r * bytesPerRow;
  Console::KeysKept kept;
  if (readBlock(a, kReadBlock) == 0 || kept.keyStopped()) return;  // (stopped: read at the next drawing)
  // The device did not give it: its rows show as not read until asked for.
  int last = (a + kReadBlock - 1) / bytesPerRow;
  for (int row = r; row <= last && row < size / bytesPerRow; ++row)
    if (!(flags[row * bytesPerRow] & kFlagRead)) unreadable_[row] = true;
}

int EepromEditor::writeRange(int address, int n) {
  for (int at = address; at < address + n; at += kWriteChunk) {
    int piece = address + n - at < kWriteChunk ? address + n - at : kWriteChunk;
    int r = link.writeEepromBlock(at, piece, image + at);
    if (r != 0) return r;
    std::memset(flags + at, kFlagRead, static_cast<size_t>(piece));
  }
  return 0;
}

void EepromEditor::drawRow(int r) {
  int a = r * bytesPerRow;
  // A row not read yet is read as it is drawn, unless its read failed or a
  // key waits for the screen (then it is drawn as not read, and read at the
  // next drawing).
  if (!(flags[a] & kFlagRead) && !unreadable_[r] && !Console::keyPending()) readForDrawing(r);
  Console::print("0x%04X: ", a);
  for (int pass = 0; pass < 2; ++pass) {
    for (int c = 0; c < bytesPerRow; ++c) {
      uint8_t b = image[a + c];
      bool known = (flags[a + c] & kFlagRead) != 0;
      bool modified = (flags[a + c] & kFlagModified) != 0;
      if (modified) Console::setColor(kAttrChanged);
      if (pass == 0) {
        if (known) Console::print("%02X ", b);
        else Console::print("%s ", kNotReadHex);
      } else {
        Console::putChar(known ? shown(b) : kNotReadChar);
      }
      if (modified) Console::setColor(kAttrNormal);
    }
    if (pass == 0) Console::print("| ");
  }
}

void EepromEditor::drawCursor() {
  int at = row * bytesPerRow + column;
  uint8_t b = image[at];
  bool known = (flags[at] & kFlagRead) != 0;
  int y = firstScreenRow + row - top;
  Console::gotoXY(8 + 3 * column, y);
  Console::setColor(static_cast<uint16_t>((~colourToggle & 0x0F) | 0x80));
  if (known) Console::print("%02X", b);
  else Console::print("%s", kNotReadHex);
  Console::gotoXY(58 + column, y);
  Console::setColor(static_cast<uint16_t>((colourToggle & 0x0F) | 0x80));
  Console::putChar(known ? shown(b) : kNotReadChar);
  Console::gotoXY(58 + column, y);
  Console::setColor(kAttrNormal);
}

int EepromEditor::editByte(int first, int maxDigits, int* pending) {
  Console::setColor(kAttrChanged);
  ConsolePos at = Console::getCursor();
  Console::putChar(first);
  Console::print("  ");
  Console::gotoXY(at.x + 1, at.y);
  char digits[8] = {static_cast<char>(first)};
  int count = 1;
  if (pending != nullptr) *pending = -1;
  bool cancelled = false;
  for (;;) {
    int key = Console::readKey();
    if (key == kKeyPrefixCursor || key == kKeyPrefixFunction) {
      Console::readKey();  // a cursor or function key: its scan code (F7 is 'A') is no digit
      continue;
    }
    if (key == kKeyEnter) break;
    if (key == kKeyEsc) {
      count = 0;
      cancelled = true;
      break;
    }
    if (key == kKeyBackspace) {
      if (count > 0) {
        --count;
        ConsolePos p = Console::getCursor();
        Console::gotoXY(p.x - 1, p.y);
        Console::putChar(' ');
        Console::gotoXY(p.x - 1, p.y);
      }
      continue;
    }
    if (hexValue(key) < 0) continue;
    if (count < maxDigits) {
      digits[count++] = static_cast<char>(key);
      Console::putChar(key);
    } else if (pending != nullptr) {
      *pending = key;
      break;
    }
  }
  Console::setColor(kAttrNormal);
  if (cancelled) return -27;
  int value = 0;
  for (int i = 0; i < count; ++i) value = value * 16 + hexValue(digits[i]);
  return value & 0xFF;
}

int EepromEditor::nextModified(int from, int* length) const {
  for (int i = from < 0 ? 0 : from; i < size; ++i) {
    if (!(flags[i] & kFlagModified)) continue;
    if (length != nullptr) {
      int n = 0;
      while (i + n < size && (flags[i + n] & kFlagModified)) ++n;
      *length = n;
    }
    return i;
  }
  return -1;
}

int EepromEditor::program(bool ask) {
  if (ask && nextModified(0, nullptr) >= 0 && !askYes("Eeprom был изменен!!! Программировать Eeprom? (y/n): ")) {
    return kKeyEsc;
  }
  programmedSomething_ = nextModified(0, nullptr) >= 0;
  int pos = 0;
  while (pos < size) {
    int length = 0;
    int start = nextModified(pos, &length);
    if (start < 0) break;
    int r = writeRange(start, length);
    if (r != 0) {
      // The bytes not yet written keep their mark: nothing is dropped.
      Console::clearLines(2, 1);
      Console::print("Ошибка программирования Eeprom по адресу 0x%04X!!! Изменения сохранены.", static_cast<unsigned>(start));
      return r - 1000;
    }
    pos = start + length;
  }
  Console::clearLines(2, 1);
  Console::print("Eeprom был запрограммирован!!!");
  return 0;
}

void EepromEditor::reread() {
  if (nextModified(0, nullptr) >= 0 && !askYes("Eeprom был изменен!!! Считать Eeprom? (y/n): ")) return;
  std::memset(flags, 0, sizeof flags);
  std::memset(unreadable_, 0, sizeof unreadable_);  // every row is asked for again
  Console::clearLines(2, 1);
  Console::print("Eeprom был считан.");
}

int EepromEditor::askFileName(std::string& name) {
  std::error_code ec;
  std::filesystem::create_directory("hex", ec);
  name.clear();
  long serial = -1;
  {
    // Keys typed while the device is asked go to the prompt (Esc leaves it).
    Console::KeysKept kept;
    serial = link.readSerialNumber(1);
    if (serial == -1) serial = link.readSerialText(1);
  }
  bool known = serial >= 0;
  std::string prompt = "Введите имя файла:";
  if (known) {
    prompt.clear();
    appendf(prompt, "Введите имя файла (по умалчанию - %06lx.hex):", serial);
  }
  if (Console::readLine(prompt.c_str(), name, kEditMax) == kKeyEsc) {
    name.clear();
    return -1;
  }
  if (name.empty()) {
    if (!known) return -1;
    appendf(name, "./hex/%06lx.hex", serial);
  }
  return 0;
}

int EepromEditor::saveHex(const std::string& path) {
  // The whole image is read first: a file is written only when every byte
  // of it is known.
  std::string text;
  text.reserve(static_cast<size_t>(size / bytesPerRow) * 45 + 13);
  for (int i = 0; i < size / bytesPerRow; ++i) {
    int a = i * bytesPerRow;
    bool known = true;
    for (int c = 0; c < bytesPerRow; ++c) known = known && (flags[a + c] & kFlagRead);
    if (!known) {
      int r = readBlock(a, kReadBlock);
      if (r != 0) {
        Console::clearLines(2, 1);
        Console::print("error of read eeprom!!!!");
        Console::readKey();
        return r;  // nothing written: a file that was there stays as it was
      }
    }
    text += formatHexRecord(a, image + a);
  }
  text += kHexEndRecord;
  // Written to a temporary file beside the name and put in place only when
  // every byte is on the disk.
  WriteResult w = writeWholeFile(path, text);
  Console::clearLines(2, 1);
  if (w == WriteResult::kWritten) {
    Console::print("Файл %s был записан на диск!!!", path.c_str());
    return 0;
  }
  if (w == WriteResult::kCannotCreate) Console::print("can not create file %s\n", path.c_str());
  else Console::print("Ошибка записи файла %s на диск!!! Файл не записан.", path.c_str());
  Console::readKey();
  return -1;
}

int EepromEditor::loadHex(const std::string& path) {
  // Only what the reader can take is read: its 257 lines of at most 1023
  // characters each.
  std::string text;
  ReadResult got = readWholeFile(path, kHexFileMax, &text);
  if (got != ReadResult::kRead) {
    Console::clearLines(2, 1);
    if (got == ReadResult::kCannotOpen) Console::print("can not open file %s\n", path.c_str());
    else if (got == ReadResult::kNotAFile) Console::print("Ошибка: %s не является файлом.", path.c_str());
    else Console::print("Ошибка чтения файла %s: файл слишком велик.", path.c_str());
    Console::readKey();
    return -1;
  }
  HexError error;
  // Loaded bytes count as read and changed: they are shown as changed,
  // drawing does not overwrite them, and programming writes them. A file
  // with any error leaves the image as it was.
  int r = parseHexImage(text, image, flags, kFlagRead | kFlagModified, &error);
  Console::clearLines(2, 1);
  if (r == 0) Console::print("Файл %s был считан с диска.", path.c_str());
  else Console::print("Ошибка чтения файла %s строка %u [pos: %u]", path.c_str(), error.line, error.position);
  return r;
}

int EepromEditor::run() {
  Console::clearLines(2, 36);
  Console::gotoXY(0, 37);
  Console::print("%s", kKeyLine);
  Console::clearLines(4, 32);
  int pending = -1;
  row = 0;
  for (;;) {
    Console::gotoXY(0, firstScreenRow);
    for (int r = top; r < top + kRowsPerPage && r < size / bytesPerRow; ++r) {
      drawRow(r);
      Console::print("\n");
    }
    drawCursor();
    int key;
    bool scan = false;  // a cursor or function key: its scan code is no letter
    if (pending >= 0) {
      key = pending;
      pending = -1;
    } else {
      key = Console::readKey();
      Console::clearLines(2, 1);
      if (key == kKeyPrefixCursor || key == kKeyPrefixFunction) {
        key = Console::readKey();
        scan = true;
      }
    }
    const int lastRow = size / bytesPerRow - 1;
    if (!scan && key == '\t') {
      colourToggle = ~colourToggle;
      continue;
    }
    if (!scan && (key == kKeySpace || key == kKeyEsc)) {
      int r = program(true);
      if (r < 0) {
        // Not programmed: the editor stays, with every edit, until the
        // operator has seen why; Esc asks again.
        Console::readKey();
        continue;
      }
      if (r == 0 && programmedSomething_) Console::readKey();  // the result is seen before the screen goes
      Console::clearLines(2, 2);
      Console::clearLines(36, 2);
      return 0;
    }
    std::string name;
    if (!scan && (key == 's' || key == 'S')) {
      if (askFileName(name) == 0) saveHex(name);
    }
    if (!scan && (key == 'o' || key == 'O')) {
      if (askFileName(name) == 0) loadHex(name);
    }
    if (!scan && (key == 'w' || key == 'W')) program(false);
    if (!scan && (key == 'r' || key == 'R')) reread();
    if (key == kScanUp && row > 0) {
      --row;
      if (row < top) --top;
    }
    if (key == kScanDown && row + 1 <= lastRow) {
      ++row;
      if (row + 1 > top + kRowsPerPage) ++top;
    }
    if (key == kScanLeft && --column < 0) column = bytesPerRow - 1;
    if (key == kScanRight && ++column > bytesPerRow - 1) column = 0;
    if (key == kScanHome) column = 0;
    if (key == kScanEnd) column = bytesPerRow - 1;
    if (key == kScanPgUp && row > 0) {
      row = row - kRowsPerPage < 0 ? 0 : row - kRowsPerPage;
      top = top - kRowsPerPage < 0 ? 0 : top - kRowsPerPage;
      if (row < top) top = row;
    }
    if (key == kScanPgDn && row + 1 <= lastRow) {
      row += kRowsPerPage;
      top += kRowsPerPage;
      if (top > lastRow + 1 - kRowsPerPage) top = lastRow + 1 - kRowsPerPage;
      if (row > lastRow) row = lastRow;
    }
    if (!scan && hexValue(key) >= 0) {
      Console::gotoXY(8 + 3 * column, firstScreenRow + row - top);
      int v = editByte(key, 2, &pending);
      if (v != -27) {
        int at = row * bytesPerRow + column;
        image[at] = static_cast<uint8_t>(v);
        flags[at] |= kFlagRead | kFlagModified;  // a typed byte is known, read or not
        if (pending >= 0) {
          if (++column > bytesPerRow - 1) {
            if (row < lastRow) {
              column = 0;
              ++row;
            } else {
              column = bytesPerRow - 1;
            }
          }
          if (row + 1 > top + kRowsPerPage) ++top;
        }
      }
    }
  }
}

}  // namespace qs
