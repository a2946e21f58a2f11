#include "settings/meter_types.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "console/codepage.h"
#include "console/text_file.h"
#include "settings/key_lines.h"

namespace qs {
namespace {

// A number as a person types it, with a decimal point or comma, and nothing
// else in the field.
bool parseNumber(const std::string& field, double* out) {
  std::optional<double> v = decimalNumber(field);
  if (!v) return false;
  *out = *v;
  return true;
}

bool noneText(const std::string& t) { return t.empty() || t == "-"; }

}  // namespace

MeterCatalogue readMeterCatalogue(const std::string& path) {
  MeterCatalogue c;
  std::vector<KeyLine> lines;
  if (!readKeyLines(path, "Meter", KeyForm::Plain, &lines)) return c;
  c.opened = true;
  for (const KeyLine& line : lines) {
    int at = line.number;
    std::vector<std::string> f = line.values();
    auto bad = [&](const char* field, size_t i) {
      c.errors.push_back(path + ", строка " + std::to_string(at) + ": " +
                         (i < f.size() ? fieldShown(field, f[i]) : std::string(field)));
    };
    if (f.size() < 9) {
      bad("полей меньше девяти", f.size());
      continue;
    }
    MeterType t;
    t.line = at;
    t.name = f[0];
    t.deviceType = noneText(f[1]) ? "" : f[1];
    t.activeClass = f[2];
    t.reactiveClass = noneText(f[3]) ? "" : f[3];
    double years = 0;
    std::string connection = f[4];
    if (t.name.empty()) bad("имя", 0);
    else if (noneText(t.activeClass)) bad("класс", 2);
    else if (connection == "прямое" || sameKey(connection, "direct")) t.transformer = false;
    else if (connection == "тт" || connection == "ТТ" || sameKey(connection, "transformer")) t.transformer = true;
    else {
      bad("подключение", 4);
      continue;
    }
    if (t.name.empty() || noneText(t.activeClass)) continue;
    if (!parseNumber(f[5], &t.base) || !(t.base > 0)) bad(t.transformer ? "Iном" : "Iб", 5);
    else if (!parseNumber(f[6], &t.imax) || !(t.imax >= t.base)) bad("Imax", 6);
    else if (!parseNumber(f[7], &t.constant) || !(t.constant > 0)) bad("постоянная", 7);
    else if (!parseNumber(f[8], &years) || years < 0 || years != std::floor(years) || years > 100)
      bad("межповерочный интервал", 8);
    else if (std::any_of(f.begin() + std::min<size_t>(f.size(), 11), f.end(), [](const std::string& v) { return !v.empty(); }))
      bad("лишнее поле (табуляция внутри значения?)", 11);
    else if (f.size() > 9 && (characterCount(f[9]) > 32 || f[9].empty() || noneText(f[9])))
      bad("номер в реестре", 9);
    else {
      t.intervalYears = static_cast<int>(years);
      if (f.size() > 9) t.registerNumber = f[9];
      if (f.size() > 10 && !noneText(f[10])) t.modification = f[10];
      c.types.push_back(t);
    }
  }
  return c;
}

const MeterType* findMeterType(const MeterCatalogue& c, const std::string& named, const std::string& deviceType,
                               std::string* message) {
  const MeterType* found = nullptr;
  for (const MeterType& t : c.types) {
    if (named.empty() ? !t.deviceType.empty() && t.deviceType == deviceType : t.name == named) {
      found = &t;
      break;
    }
  }
  if (found != nullptr || message == nullptr) return found;
  std::string what = named.empty() ? (deviceType.empty() ? std::string("прибора") : deviceType) : named;
  *message = "Тип счётчика " + what + " не найден в meters.sch: допуски из программы";
  std::string note = catalogueNote(c);
  if (!note.empty()) *message += " (" + note + ")";
  return nullptr;
}

std::string catalogueNote(const MeterCatalogue& c) {
  if (!c.opened) return "нет файла meters.sch";
  if (c.errors.empty()) return "";
  std::string out = "ошибка в " + c.errors.front();
  if (c.errors.size() > 1) out += " и ещё " + std::to_string(c.errors.size() - 1);
  return out;
}

std::string classKey(const std::string& meterClass) {
  std::string out;
  for (char c : trimmed(meterClass)) out += c == ',' ? '.' : c == 's' ? 'S' : c;
  return out;
}

bool parseMeasure(const std::string& text, MeasureSettings* out) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text + " ") {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  double v[5] = {0, 0, 0, 0, 0};
  if (parts.size() != 4 && parts.size() != 5) return false;
  for (size_t i = 0; i < parts.size(); ++i)
    if (!parseNumber(parts[i], &v[i])) return false;
  if (v[0] < 0 || v[0] > 600 || v[1] < 1 || v[1] > 20 || v[1] != std::floor(v[1]) || v[2] < 0 || v[2] > 3600 ||
      v[3] < 0 || v[3] > 1e6)
    return false;
  if (parts.size() == 5 && (v[4] < v[2] || v[4] <= 0 || v[4] > 36000)) return false;
  out->maxSeconds = parts.size() == 5 ? v[4] : 0;
  out->given = true;
  out->settlingSeconds = v[0];
  out->readings = static_cast<int>(v[1]);
  out->minSeconds = v[2];
  out->minPulses = v[3];
  return true;
}

bool readMeasureLine(const std::string& path, MeasureSettings* out, std::string* problem) {
  std::vector<KeyLine> lines;
  if (!readKeyLines(path, "Measure", KeyForm::Plain, &lines)) return true;
  for (const KeyLine& line : lines) {
    std::string joined;
    for (const std::string& f : line.values()) joined += (joined.empty() ? "" : " ") + f;
    if (!parseMeasure(joined, out)) {
      if (problem != nullptr) *problem = lineOfFile(line.number, path) + ": " + fieldShown("Measure", joined);
      return false;
    }
  }
  return true;
}

std::string measureText(const MeasureSettings& m) {
  if (!m.given) return "";
  std::string out;
  appendf(out, "%g %d %g %g", m.settlingSeconds, m.readings, m.minSeconds, m.minPulses);
  if (m.maxSeconds > 0) appendf(out, " %g", m.maxSeconds);
  for (char& c : out)
    if (c == '.') c = ',';
  return out;
}

bool isProgrammeOption(const std::string& field) {
  std::string t = trimmed(field);
  return t.rfind("type=", 0) == 0 || t.rfind("measure=", 0) == 0 || t.rfind("поверка=", 0) == 0;
}

int verificationKind(const std::vector<std::string>& fields) {
  bool found = false;
  std::string kind = programmeOption(fields, "поверка", &found);
  if (!found || kind == "периодическая") return 2;
  return kind == "первичная" ? 1 : 0;
}

std::string programmeOption(const std::vector<std::string>& fields, const std::string& name, bool* found) {
  *found = false;
  std::string prefix = name + "=";
  std::string value;
  for (const std::string& f : fields) {
    std::string t = trimmed(f);
    if (t.rfind(prefix, 0) != 0) continue;
    *found = true;
    value = trimmed(t.substr(prefix.size()));
  }
  return value;
}

}  // namespace qs
