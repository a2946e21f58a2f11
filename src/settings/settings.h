// Readers of the line-oriented settings files in QS_ADD ("common.sch" and its
// kin). A line is a key, an optional underscore and index, a colon, and
// TAB-separated fields; lines beginning with "##" are comments.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/bytes.h"
#include "console/text_file.h"

namespace qs {

// "QS_ADD" and the platform's path separator in front of a settings file name.
std::string settingsPath(std::string_view fileName);


// The `key_index:` line (the last one that matches): writes '0' plus the
// port number to *portDigit and, when the address field ends in a TAB, the
// low 8 bits of the hexadecimal address to *address. Returns 0, or -1 when
// the file cannot be opened (nothing written). *problem, when given, says
// what the last matching line does not say as its syntax asks ("строка 3
// файла QS_ADD/common.sch: поля разделяются табуляцией", an address that is
// not hexadecimal, a port that is no number), "" when it is whole or there
// is none.
int readTaskLine(const std::string& path, std::string_view key, int index, char* portDigit, uint8_t* address,
                 std::string* problem = nullptr);

constexpr int kMenuTypeA = 0x100;
constexpr int kMenuTypeV = 0x200;
constexpr int kMenuTypeS = 0x400;
constexpr int kMenuFive = 0x08;  // number 5 or 8

// One `menu_id:` line of common.sch.
struct MenuItem {
  int id = 0;
  int number = 0;
  int flags = 0;
  std::string caption;  // UTF-8
};

// All `menu` lines in file order (the list runs both ways by index). Returns
// 0, or -1 when the file cannot be opened (outputs untouched).
int loadMenuItems(const std::string& path, std::vector<MenuItem>* items, int* count);

}  // namespace qs
