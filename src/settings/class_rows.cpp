#include "settings/class_rows.h"

#include <algorithm>
#include <cmath>

#include "console/bytes.h"
#include "console/codepage.h"
#include "console/text_file.h"
#include "settings/key_lines.h"
#include "settings/meter_types.h"

namespace qs {
namespace {

using metrology::ClassRow;
using metrology::Connection;
using metrology::Loading;

constexpr size_t kFields = 8;

// A row as read, with what a message quotes of it.
struct ReadRow {
  ClassRow row;
  int line = 0;
  std::string classWritten, rangeWritten;
};

bool transformerRow(const ClassRow& r) { return r.connection == Connection::Transformer; }

// The current range "a ≤ I < b" (or with "<=", "<"; the upper bound may be
// Imax, or Iмакс as Russian tables write it): its bounds into `row`. A share may carry its base, which must be
// the row's connection's: Iб (Ib) for direct meters, Iном (In) through
// transformers. "" when it reads, else what is wrong.
std::string readRange(std::string text, ClassRow* row) {
  const std::string lessEqual = "\xE2\x89\xA4";  // ≤
  for (size_t at; (at = text.find(lessEqual)) != std::string::npos;) text.replace(at, lessEqual.size(), "<=");
  const char* form = "пишется «a ≤ I < b» или «a ≤ I ≤ Imax»";
  size_t first = text.find('<');
  if (first == std::string::npos) return form;
  size_t second = text.find('<', first + 1);
  if (second == std::string::npos) return form;
  bool lowIncluded = first + 1 < text.size() && text[first + 1] == '=';
  bool highIncluded = second + 1 < text.size() && text[second + 1] == '=';
  std::string low = trimmed(text.substr(0, first));
  std::string middle = trimmed(text.substr(first + (lowIncluded ? 2 : 1), second - first - (lowIncluded ? 2 : 1)));
  std::string high = trimmed(text.substr(second + (highIncluded ? 2 : 1)));
  if (middle != "I") return form;
  bool transformer = transformerRow(*row);
  // A share, with its base when written: none when it does not read.
  auto share = [&](std::string t, std::string* why) -> std::optional<double> {
    struct Base {
      const char* name;
      bool transformer;
    };
    for (Base b : {Base{"Iном", true}, Base{"In", true}, Base{"Iб", false}, Base{"Ib", false}}) {
      std::string name = b.name;
      if (t.size() > name.size() && t.compare(t.size() - name.size(), name.size(), name) == 0) {
        if (b.transformer != transformer) {
          *why = transformer ? "через тт доли Iном" : "при прямом включении доли Iб";
          return std::nullopt;
        }
        t.resize(t.size() - name.size());
        break;
      }
    }
    std::optional<double> v = decimalNumber(t);
    if (!v || *v < 0) *why = form;
    return v && *v >= 0 ? v : std::nullopt;
  };
  std::string why;
  std::optional<double> from = share(low, &why);
  if (!from) return why;
  double to = 0;  // Imax
  if (!sameKey(high, "Imax") && high != "Iмакс") {
    std::optional<double> v = share(high, &why);
    if (!v) return why;
    if (!(*v > *from || (*v == *from && *v > 0 && lowIncluded && highIncluded))) return "нижняя граница не ниже верхней";
    to = *v;
  }
  row->lowDirect = row->lowTransformer = *from;
  row->lowIncluded = lowIncluded;
  row->highDirect = row->highTransformer = to;
  row->highIncluded = highIncluded;
  return "";
}

// cos φ (sin φ) and its load letter: "1", "0,5 L", "0,8 C" (a Cyrillic С
// is taken for C). Below 1 the letter is needed; cos φ = 1 has none.
std::string readPowerFactor(const std::string& field, ClassRow* row) {
  std::string t = trimmed(field);
  char letter = 'N';
  struct Letter {
    const char* text;
    char is;
  };
  for (Letter l : {Letter{"L", 'L'}, Letter{"l", 'L'}, Letter{"C", 'C'}, Letter{"c", 'C'}, Letter{"\xD0\xA1", 'C'},
                   Letter{"\xD1\x81", 'C'}, Letter{"N", 'N'}, Letter{"n", 'N'}}) {
    std::string s = l.text;
    if (t.size() > s.size() && t.compare(t.size() - s.size(), s.size(), s) == 0) {
      letter = l.is;
      t.resize(t.size() - s.size());
      break;
    }
  }
  std::optional<double> v = decimalNumber(t);
  if (!v || !(*v > 0) || *v > 1) return "число от 0 до 1 и буква L или C";
  if (*v < 1 && letter == 'N') return "нужна буква L или C";
  if (*v == 1 && letter != 'N' && row->active) return "при cos φ = 1 буквы нет";
  row->pf = *v;
  row->character = letter;
  return "";
}

// The permitted error in percent as the judge reads it: a positive number
// of at most three decimals, no more than 100.
std::string readLimit(const std::string& field, ClassRow* row) {
  std::string t = trimmed(field);
  std::optional<double> v = decimalNumber(t);
  size_t separator = t.find_first_of(",.");
  bool plain = t.find_first_not_of("0123456789,.") == std::string::npos;
  if (!v || !plain || !(*v > 0) || *v > 100 || (separator != std::string::npos && t.size() - separator - 1 > 3))
    return "число процентов больше 0, не больше трёх знаков после запятой";
  for (char& c : t)
    if (c == '.') c = ',';
  row->limit = t;
  return "";
}

// "0.5S", "1": digits, an optional fraction, an optional S.
bool classShape(const std::string& key) {
  size_t i = 0, digits = 0;
  while (i < key.size() && key[i] >= '0' && key[i] <= '9') ++i, ++digits;
  if (digits == 0) return false;
  if (i < key.size() && key[i] == '.') {
    size_t from = ++i;
    while (i < key.size() && key[i] >= '0' && key[i] <= '9') ++i;
    if (i == from) return false;
  }
  if (i < key.size() && key[i] == 'S') ++i;
  return i == key.size();
}

// The row of a line, or "" with the error it gets.
std::string readRow(const KeyLine& line, const std::string& path, ReadRow* out) {
  std::string at = lineOfFile(line.number, path) + ": ";
  if (!sameKey(trimmed(line.key), "Row")) return at + fieldShown("ключ", line.key) + ": строки этого файла — Row:";
  if (line.blanksForTabs()) return at + "поля разделены пробелами, а не TAB";
  std::vector<std::string> f = line.values();
  if (f.size() != kFields)
    return at + "полей " + std::to_string(f.size()) + " вместо " + std::to_string(kFields);
  ClassRow& r = out->row;
  out->line = line.number;
  auto bad = [&](const char* name, const std::string& text, const std::string& why) {
    return at + fieldShown(name, text) + (why.empty() ? "" : ": " + why);
  };
  r.standard = f[0];
  if (r.standard.empty()) return bad("источник", f[0], "стандарт и таблица, откуда строка");
  if (f[1] == "активная") r.active = true;
  else if (f[1] == "реактивная") r.active = false;
  else return bad("энергия", f[1], "активная или реактивная");
  out->classWritten = f[2];
  r.meterClass = classKey(f[2]);
  if (!classShape(r.meterClass)) return bad("класс", f[2], "");
  if (f[3] == "прямое" || sameKey(f[3], "direct")) r.connection = Connection::Direct;
  else if (f[3] == "тт" || f[3] == "ТТ" || sameKey(f[3], "transformer")) r.connection = Connection::Transformer;
  else return bad("подключение", f[3], "прямое или тт");
  out->rangeWritten = f[4];
  std::string why = readRange(f[4], &r);
  if (!why.empty()) return bad("ток", f[4], why);
  why = readPowerFactor(f[5], &r);
  if (!why.empty()) return bad(r.active ? "cos φ" : "sin φ", f[5], why);
  if (f[6] == "все фазы") r.loading = Loading::Balanced;
  else if (f[6] == "одна фаза") r.loading = Loading::OnePhase;
  else return bad("нагрузка", f[6], "все фазы или одна фаза");
  why = readLimit(f[7], &r);
  if (!why.empty()) return bad("допуск", f[7], why);
  return "";
}

// A row's currents in shares; Imax above every share.
struct Span {
  double low;
  bool lowIn;
  double high;  // infinite for Imax
  bool highIn;
};
Span spanOf(const ClassRow& r) {
  return Span{r.lowDirect, r.lowIncluded, r.highDirect == 0 ? INFINITY : r.highDirect, r.highIncluded};
}

bool overlap(const Span& a, const Span& b) {
  double lo = std::max(a.low, b.low);
  bool loIn = (a.low < lo || a.lowIn) && (b.low < lo || b.lowIn);
  double hi = std::min(a.high, b.high);
  bool hiIn = (a.high > hi || a.highIn) && (b.high > hi || b.highIn);
  return lo < hi || (lo == hi && loIn && hiIn);
}

// One class and condition exactly: rows that follow each other in current.
bool sameLadder(const ClassRow& a, const ClassRow& b) {
  return a.meterClass == b.meterClass && a.active == b.active && a.loading == b.loading && a.connection == b.connection &&
         a.character == b.character && std::fabs(a.pf - b.pf) <= 0.005;
}

// "cos φ = 0,5 L, нагрузка одной фазы"; with the class in front when asked.
std::string conditionText(const ReadRow& r, bool withClass) {
  return (withClass ? "класс " + r.classWritten + ", " : std::string()) + metrology::powerFactorText(r.row) +
         (r.row.loading == Loading::OnePhase ? ", нагрузка одной фазы" : "");
}

std::string linesOfFile(int a, int b, const std::string& path) {
  return "строки " + std::to_string(a) + " и " + std::to_string(b) + " файла " + path;
}

}  // namespace

LabClassRows readClassRows(const std::string& path) {
  LabClassRows out;
  std::vector<KeyLine> lines;
  if (!readKeyLines(path, KeyForm::Plain, &lines)) return out;
  out.opened = true;
  size_t sep = path.find_last_of("/\\");
  std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
  std::vector<ReadRow> rows;
  for (const KeyLine& line : lines) {
    ReadRow r{ClassRow{"", "", true, Loading::Balanced, 0, 0, true, 0, 0, true, 1, 'N', ""}, 0, "", ""};
    std::string error = readRow(line, path, &r);
    if (!error.empty()) {
      out.errors.push_back(error);
      continue;
    }
    r.row.origin = name + ":" + std::to_string(line.number);
    // The built-in rows stay what their standard says: a class and
    // condition they hold is theirs alone.
    bool builtIn = false;
    for (const ClassRow& b : metrology::classRows()) {
      if (!metrology::sameCondition(r.row, b)) continue;
      out.errors.push_back(lineOfFile(line.number, path) + ": " + fieldShown("класс", r.classWritten) + ": " +
                           conditionText(r, false) + " есть во встроенной таблице (" + b.standard + ")");
      builtIn = true;
      break;
    }
    if (!builtIn) rows.push_back(r);
  }
  // Two rows of one class and condition never judge one current.
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = i + 1; j < rows.size(); ++j)
      if (metrology::sameCondition(rows[i].row, rows[j].row) && overlap(spanOf(rows[i].row), spanOf(rows[j].row)))
        out.errors.push_back(linesOfFile(rows[i].line, rows[j].line, path) + ": " +
                             fieldShown("ток", rows[i].rangeWritten) + " и «" + trimmed(rows[j].rangeWritten) +
                             "» перекрываются (" + conditionText(rows[i], true) + ")");
  // Between two rows of one class and condition every current has a row.
  std::vector<bool> seen(rows.size(), false);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (seen[i]) continue;
    std::vector<const ReadRow*> ladder;
    for (size_t j = i; j < rows.size(); ++j)
      if (!seen[j] && sameLadder(rows[i].row, rows[j].row)) {
        seen[j] = true;
        ladder.push_back(&rows[j]);
      }
    std::sort(ladder.begin(), ladder.end(), [](const ReadRow* a, const ReadRow* b) {
      Span x = spanOf(a->row), y = spanOf(b->row);
      return x.low < y.low || (x.low == y.low && x.lowIn && !y.lowIn);
    });
    for (size_t k = 1; k < ladder.size(); ++k) {
      Span below = spanOf(ladder[k - 1]->row), above = spanOf(ladder[k]->row);
      if (overlap(below, above) || below.high > above.low) continue;  // (said above)
      if (below.high < above.low || (!below.highIn && !above.lowIn))
        out.errors.push_back(linesOfFile(ladder[k - 1]->line, ladder[k]->line, path) + ": ток между «" +
                             trimmed(ladder[k - 1]->rangeWritten) + "» и «" + trimmed(ladder[k]->rangeWritten) +
                             "» без строки (" + conditionText(*ladder[k], true) + ")");
    }
  }
  if (out.errors.empty())
    for (const ReadRow& r : rows) out.rows.push_back(r.row);
  return out;
}

std::string classRowsRefusal(const LabClassRows& file) {
  if (file.errors.empty()) return "";
  std::string out = file.errors.front();
  if (file.errors.size() > 1) out += " (ошибок в файле: " + std::to_string(file.errors.size()) + ")";
  return out + ". Поверка невозможна.";
}


}  // namespace qs
