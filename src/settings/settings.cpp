#include "settings/settings.h"

#include <cctype>
#include <cstdlib>

#include "platform/path.h"
#include "settings/key_lines.h"


namespace qs {

namespace {

// A device address as the Task line writes it: hexadecimal digits, "0x"
// before them allowed, blanks around them.
bool isHexAddress(const std::string& field) {
  std::string t = trimmed(field);
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.erase(0, 2);
  return !t.empty() && t.size() <= 8 && t.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

}  // namespace

std::string settingsPath(std::string_view fileName) { return platform::joinPath("QS_ADD", fileName); }

int readTaskLine(const std::string& path, std::string_view key, int index, char* portDigit, uint8_t* addressOut,
                 std::string* problem) {
  std::vector<KeyLine> lines;
  if (!readKeyLines(path, key, KeyForm::Indexed, &lines)) return -1;
  std::string wrong;  // what the last matching line does not say as it should
  for (const KeyLine& k : lines) {
    if (decimalValue(k.index) != index) continue;
    std::string where = lineOfFile(k.number, path) + ": ";
    wrong = where + "нет порта и адреса";
    // One separator character after the colon, then the port and the
    // address, each ended by a TAB.
    if (k.rest.empty()) continue;
    std::string_view rest = std::string_view(k.rest).substr(1);
    size_t tab = rest.find('\t');
    if (tab == std::string_view::npos) {
      if (!trimmed(rest).empty()) wrong = where + "поля разделяются табуляцией";
      continue;
    }
    std::string port = trimmed(rest.substr(0, tab));
    // The digit wraps like a byte for numbers past 9 (unsigned: no overflow).
    *portDigit = static_cast<char>(static_cast<unsigned long>(decimalValue(port)) + '0');
    rest = rest.substr(tab + 1);
    tab = rest.find('\t');
    std::string address = trimmed(rest.substr(0, tab));
    if (tab != std::string_view::npos)
      *addressOut = static_cast<uint8_t>(std::strtoul(std::string(rest.substr(0, tab)).c_str(), nullptr, 16) & 0xFF);
    if (port.find(' ') != std::string::npos || (tab == std::string_view::npos && address.find(' ') != std::string::npos))
      wrong = where + "поля разделяются табуляцией";
    else if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos)
      wrong = where + fieldShown("порт", port) + " не число";
    else if (tab == std::string_view::npos)
      wrong = where + (address.empty() ? "нет адреса" : "после адреса нужна табуляция");
    else if (!isHexAddress(address))
      wrong = where + fieldShown("адрес", address) + " не шестнадцатеричный";
    else
      wrong.clear();
  }
  if (problem != nullptr) *problem = wrong;
  return 0;
}

int loadMenuItems(const std::string& path, std::vector<MenuItem>* items, int* count) {
  std::vector<KeyLine> lines;
  if (!readKeyLines(path, "menu", KeyForm::Indexed, &lines)) return -1;
  std::vector<MenuItem> list;
  for (const KeyLine& k : lines) {
    MenuItem& item = list.emplace_back();
    item.id = static_cast<int>(decimalValue(k.index));
    // From here the item stays, however the rest of the line breaks off:
    // the text up to the first TAB is skipped, then the type letter and
    // number, then the caption (ended by a TAB or the line's end).
    if (k.pieces.size() < 3) continue;
    const std::string& type = k.pieces[1].text;
    if (!type.empty()) {
      switch (type[0]) {
        case 'A': item.flags |= kMenuTypeA; break;
        case 'V': item.flags |= kMenuTypeV; break;
        case 'S': item.flags |= kMenuTypeS; break;
        default: break;
      }
      item.number = static_cast<int>(decimalValue(std::string_view(type).substr(1)));
    }
    if (item.number == 5 || item.number == 8) item.flags |= kMenuFive;
    if (!k.pieces[2].tabbed && !k.ended) continue;  // caption not terminated: stays empty
    item.caption = k.pieces[2].text;
  }
  if (count != nullptr) *count = static_cast<int>(list.size());
  if (items != nullptr) *items = std::move(list);
  return 0;
}

}  // namespace qs
