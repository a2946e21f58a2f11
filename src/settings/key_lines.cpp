#include "settings/key_lines.h"

#include <cmath>
#include <cstdlib>

#include "console/number_text.h"
#include "console/text_file.h"

namespace qs {

std::string trimmed(std::string_view text) {
  size_t at = text.find_first_not_of(" \t\r\n");
  if (at == std::string_view::npos) return "";
  return std::string(text.substr(at, text.find_last_not_of(" \t\r\n") - at + 1));
}

std::vector<std::string> KeyLine::values() const {
  std::vector<std::string> out;
  for (size_t i = 1; i < pieces.size(); ++i) {
    std::string v = trimmed(pieces[i].text);
    if (pieces[i].tabbed || !v.empty()) out.push_back(v);
  }
  return out;
}

bool KeyLine::blanksForTabs() const { return pieces.size() == 1 && !trimmed(rest).empty(); }

bool readKeyLines(const std::string& path, KeyForm form, std::vector<KeyLine>* out) {
  std::vector<std::string> lines;
  if (!readSettingsLines(path, lines)) return false;
  int next = 1;
  for (const std::string& line : lines) {
    int number = next;
    if (!line.empty() && line.back() == '\n') ++next;  // (a long line comes in pieces)
    if (line.empty() || isCommentLine(line)) continue;
    KeyLine k;
    k.number = number;
    size_t colon;
    if (form == KeyForm::Indexed) {
      size_t underscore = line.find('_');
      if (underscore == std::string::npos) continue;
      colon = line.find(':', underscore + 1);
      if (colon == std::string::npos) continue;
      k.key = line.substr(0, underscore);
      k.index = line.substr(underscore + 1, colon - underscore - 1);
    } else {
      colon = line.find(':');
      if (colon == std::string::npos) continue;
      k.key = line.substr(0, colon);
    }
    size_t end = line.find('\n', colon + 1);
    k.ended = end != std::string::npos;
    k.rest = line.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
    size_t at = 0;
    for (;;) {
      size_t tab = k.rest.find('\t', at);
      if (tab == std::string::npos) {
        k.pieces.push_back(KeyPiece{k.rest.substr(at), false});
        break;
      }
      k.pieces.push_back(KeyPiece{k.rest.substr(at, tab - at), true});
      at = tab + 1;
    }
    out->push_back(std::move(k));
  }
  return true;
}

bool readKeyLines(const std::string& path, std::string_view key, KeyForm form, std::vector<KeyLine>* out) {
  std::vector<KeyLine> all;
  if (!readKeyLines(path, form, &all)) return false;
  for (KeyLine& k : all)
    if (sameKey(k.key, key)) out->push_back(std::move(k));
  return true;
}

std::optional<double> decimalNumber(std::string_view field) { return parseDecimal(field); }

std::string fieldShown(std::string_view name, std::string_view text) {
  return std::string(name) + " \xC2\xAB" + trimmed(text) + "\xC2\xBB";
}

std::string lineOfFile(int number, const std::string& path) {
  return "строка " + std::to_string(number) + " файла " + path;
}

}  // namespace qs
