// Intel HEX images of the device's 4096-byte EEPROM.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qs {

inline constexpr int kEepromSize = 4096;
inline constexpr uint8_t kFlagRead = 0x01;
inline constexpr uint8_t kFlagModified = 0x02;

// The record checksum: two's complement of the sum of count, address bytes,
// type and data, modulo 256.
uint8_t hexRecordChecksum(int type, int address, int count, const uint8_t* data);
// `width` characters of `line` from `position` read as hexadecimal; reading
// stops at the first character that is not a hex digit (or the line's end).
long parseHexField(std::string_view line, size_t position, int width);

// One data record of 16 bytes at `address`, with its CR LF.
std::string formatHexRecord(int address, const uint8_t* data);
inline constexpr const char* kHexEndRecord = ":00000001FF\r\n";

// The whole image as 256 data records of 16 bytes and the end record, upper
// case, CR LF.
std::string formatHexImage(const uint8_t* image);

// Where a HEX text is wrong: 1-based line and character position.
struct HexError {
  unsigned line = 0;
  unsigned position = 0;
};

// Reads a HEX text into `image` (4096 bytes); every byte stored gets
// `storedFlags` in `flags`. Returns 0, or an error code: the line number for
// a line without its colon (and for a text that ends before its end
// record), 0x1000 + line for a record outside the image, 0x2000 + line for a
// checksum that does not match. Bytes stored before the error stay.
int parseHexImage(std::string_view text, uint8_t* image, uint8_t* flags, uint8_t storedFlags, HexError* error);

}  // namespace qs
