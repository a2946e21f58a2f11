#include "eeprom/intel_hex.h"

#include <cstring>


namespace qs {
namespace {

constexpr size_t kLineMax = 1023;  // a 1024-byte line buffer with its terminator
constexpr int kMaxLines = 256;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

uint8_t hexRecordChecksum(int type, int address, int count, const uint8_t* data) {
  unsigned sum = static_cast<unsigned>(count) + ((static_cast<unsigned>(address) >> 8) & 0xFF) +
                 (static_cast<unsigned>(address) & 0xFF) + static_cast<unsigned>(type);
  for (int i = 0; i < count; ++i) sum += data[i];
  return static_cast<uint8_t>(-static_cast<int>(sum & 0xFF));
}

long parseHexField(std::string_view line, size_t position, int width) {
  long value = 0;
  for (size_t i = position; i < position + static_cast<size_t>(width) && i < line.size(); ++i) {
    int d = hexDigit(line[i]);
    if (d < 0) break;
    value = value * 16 + d;
  }
  return value;
}

std::string formatHexRecord(int address, const uint8_t* data) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = ":10";
  auto byte = [&](unsigned b) {
    out += kDigits[(b >> 4) & 0x0F];
    out += kDigits[b & 0x0F];
  };
  byte(static_cast<unsigned>(address) >> 8);
  byte(static_cast<unsigned>(address));
  byte(0);
  for (int i = 0; i < 16; ++i) byte(data[i]);
  byte(hexRecordChecksum(0, address, 16, data));
  out += "\r\n";
  return out;
}

std::string formatHexImage(const uint8_t* image) {
  std::string out;
  out.reserve(256 * 45 + 13);
  for (int a = 0; a < kEepromSize; a += 16) out += formatHexRecord(a, image + a);
  out += kHexEndRecord;
  return out;
}

int parseHexImage(std::string_view text, uint8_t* image, uint8_t* flags, uint8_t storedFlags, HexError* error) {
  // All or nothing: the records go into a copy, which replaces the image
  // only when the whole file has been read up to its end record.
  uint8_t loaded[kEepromSize];
  uint8_t loadedFlags[kEepromSize];
  std::memcpy(loaded, image, sizeof loaded);
  std::memcpy(loadedFlags, flags, sizeof loadedFlags);
  size_t at = 0;
  for (int i = 0; i <= kMaxLines + 1; ++i) {
    auto fail = [&](int code, unsigned position) {
      error->line = static_cast<unsigned>(i + 1);
      error->position = position;
      return code;
    };
    // More lines than the reader takes (a record for every 16 bytes and the
    // end record) without an end record among them: an error, not the first
    // part of an image.
    if (at >= text.size() || i == kMaxLines + 1) return fail(i + 1, 0);
    size_t end = text.find('\n', at);
    size_t take = end == std::string_view::npos ? text.size() - at : end - at + 1;
    if (take > kLineMax) take = kLineMax;
    std::string_view line = text.substr(at, take);
    at += take;
    if (line[0] != ':') return fail(i + 1, 0);
    int count = static_cast<int>(parseHexField(line, 1, 2));
    int address = static_cast<int>(parseHexField(line, 3, 4));
    int type = static_cast<int>(parseHexField(line, 7, 2));
    uint8_t data[256];
    for (int k = 0; k < count; ++k) data[k] = static_cast<uint8_t>(parseHexField(line, 9 + 2 * static_cast<size_t>(k), 2));
    size_t sumAt = 9 + 2 * static_cast<size_t>(count);
    bool sumRight = line.size() >= sumAt + 2 && parseHexField(line, sumAt, 2) == hexRecordChecksum(type, address, count, data);
    if (type == 1 && count == 0) {
      if (!sumRight) return fail(0x2001 + i, static_cast<unsigned>(sumAt));
      std::memcpy(image, loaded, sizeof loaded);
      std::memcpy(flags, loadedFlags, sizeof loadedFlags);
      return 0;  // the end record
    }
    if (type > 5) return fail(i + 1, 7);  // no record of the format
    // The whole of a data record must lie in the image.
    if (type == 0 && address + count > kEepromSize) return fail(0x1001 + i, 7);
    if (!sumRight) return fail(0x2001 + i, static_cast<unsigned>(sumAt));
    if (type != 0 || count == 0) continue;  // only data records carry bytes of the image
    for (int k = 0; k < count; ++k) {
      loaded[address + k] = data[k];
      loadedFlags[address + k] = storedFlags;
    }
  }
  return 0;
}

}  // namespace qs
