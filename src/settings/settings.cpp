#include "settings/settings.h"

#include <cctype>
#include <cstdlib>

#include "platform/path.h"
#include "settings/key_lines.h"


namespace qs {

std::string settingsPath(std::string_view fileName) { return platform::joinPath("QS_ADD", fileName); }

int readTaskLine(const std::string& path, std::string_view key, int index, char* portDigit, uint8_t* address) {
  std::vector<KeyLine> lines;
  if (!readKeyLines(path, key, KeyForm::Indexed, &lines)) return -1;
  for (const KeyLine& k : lines) {
    if (decimalValue(k.index) != index) continue;
    // One separator character after the colon, then the port and the
    // address, each ended by a TAB.
    if (k.rest.empty()) continue;
    std::string_view rest = std::string_view(k.rest).substr(1);
    size_t tab = rest.find('\t');
    if (tab == std::string_view::npos) continue;
    // The digit wraps like a byte for numbers past 9 (unsigned: no overflow).
    *portDigit = static_cast<char>(static_cast<unsigned long>(decimalValue(rest.substr(0, tab))) + '0');
    rest = rest.substr(tab + 1);
    tab = rest.find('\t');
    if (tab == std::string_view::npos) continue;
    std::string field(rest.substr(0, tab));
    *address = static_cast<uint8_t>(std::strtoul(field.c_str(), nullptr, 16) & 0xFF);
  }
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
