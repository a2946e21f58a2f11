#include "settings/settings.h"

#include <cctype>
#include <cstdlib>

#include "platform/path.h"


namespace qs {
namespace {



// The text between two positions (end excluded).
std::string_view slice(const std::string& line, size_t from, size_t to) {
  return std::string_view(line).substr(from, to - from);
}

}  // namespace

std::string settingsPath(std::string_view fileName) { return platform::joinPath("QS_ADD", fileName); }

int readTaskLine(const std::string& path, std::string_view key, int index, char* portDigit, uint8_t* address) {
  std::vector<std::string> lines;
  if (!readSettingsLines(path, lines)) return -1;
  for (const std::string& line : lines) {
    if (line.empty() || isCommentLine(line)) continue;
    size_t underscore = line.find('_');
    if (underscore == std::string::npos || !sameKey(slice(line, 0, underscore), key)) continue;
    size_t colon = line.find(':', underscore + 1);
    if (colon == std::string::npos) continue;
    if (decimalValue(slice(line, underscore + 1, colon)) != index) continue;
    size_t from = colon + 2;  // one separator character after the colon
    if (from > line.size()) continue;
    size_t tab = line.find('\t', from);
    if (tab == std::string::npos) continue;
    // The digit wraps like a byte for numbers past 9 (unsigned: no overflow).
    *portDigit = static_cast<char>(static_cast<unsigned long>(decimalValue(slice(line, from, tab))) + '0');
    from = tab + 1;
    tab = line.find('\t', from);
    if (tab == std::string::npos) continue;
    std::string field(slice(line, from, tab));
    *address = static_cast<uint8_t>(std::strtoul(field.c_str(), nullptr, 16) & 0xFF);
  }
  return 0;
}

int loadMenuItems(const std::string& path, std::vector<MenuItem>* items, int* count) {
  std::vector<std::string> lines;
  if (!readSettingsLines(path, lines)) return -1;
  std::vector<MenuItem> list;
  for (const std::string& line : lines) {
    if (line.empty() || isCommentLine(line)) continue;
    size_t underscore = line.find('_');
    if (underscore == std::string::npos || !sameKey(slice(line, 0, underscore), "menu")) continue;
    size_t colon = line.find(':', underscore + 1);
    if (colon == std::string::npos) continue;
    MenuItem& item = list.emplace_back();
    item.id = static_cast<int>(decimalValue(slice(line, underscore + 1, colon)));
    // From here the item stays, however the rest of the line breaks off.
    size_t tab = line.find('\t', colon + 1);
    if (tab == std::string::npos) continue;
    size_t from = tab + 1;
    tab = line.find('\t', from);
    if (tab == std::string::npos) continue;
    std::string_view type = slice(line, from, tab);
    if (!type.empty()) {
      switch (type[0]) {
        case 'A': item.flags |= kMenuTypeA; break;
        case 'V': item.flags |= kMenuTypeV; break;
        case 'S': item.flags |= kMenuTypeS; break;
        default: break;
      }
      item.number = static_cast<int>(decimalValue(type.substr(1)));
    }
    if (item.number == 5 || item.number == 8) item.flags |= kMenuFive;
    from = tab + 1;
    size_t end = line.find('\t', from);
    if (end == std::string::npos) end = line.find('\n', from);
    if (end == std::string::npos) continue;  // caption not terminated: stays empty
    item.caption = std::string(slice(line, from, end));
  }
  if (count != nullptr) *count = static_cast<int>(list.size());
  if (items != nullptr) *items = std::move(list);
  return 0;
}

}  // namespace qs
