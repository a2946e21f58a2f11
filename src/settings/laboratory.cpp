#include "settings/laboratory.h"
#include "console/bytes.h"
#include "console/number_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "console/codepage.h"
#include "console/text_file.h"
#include "console/whole_file.h"
#include "devlink/local_time.h"
#include "settings/calendar.h"
#include "settings/key_lines.h"

namespace qs {
namespace {

bool number(const std::string& t, double* out) {
  std::optional<double> v = decimalNumber(t);
  if (!v) return false;
  *out = *v;
  return true;
}

// The fields of the last `key` line, with its line number.
bool keyLine(const std::string& path, const char* key, std::vector<std::string>* fields, int* lineNumber) {
  std::vector<KeyLine> lines;
  if (!readKeyLines(path, key, KeyForm::Plain, &lines) || lines.empty()) return false;
  *fields = lines.back().values();
  *lineNumber = lines.back().number;
  return true;
}

bool validDate(const std::string& d) { return isCalendarDate(d); }

std::string numberText(double v) { return decimalComma(v); }

}  // namespace

bool parseBounds(const std::string& text, Bounds* out) {
  std::string t = trimmed(text);
  if (t.empty() || t == "-") {
    *out = Bounds{};
    return true;
  }
  const std::string dash = "\xE2\x80\x93";  // en dash
  size_t at = t.find(dash), width = dash.size();
  if (at == std::string::npos) {
    at = t.find('-', 1);  // (a first character may be a minus sign)
    width = 1;
  }
  if (at == std::string::npos) return false;
  Bounds b;
  if (!number(t.substr(0, at), &b.low) || !number(t.substr(at + width), &b.high) || b.low > b.high) return false;
  b.given = true;
  *out = b;
  return true;
}

std::string boundsText(const Bounds& b) { return b.given ? numberText(b.low) + "\xE2\x80\x93" + numberText(b.high) : ""; }

namespace {

// "строка 12 файла QS_ADD/common.sch: Lab, влажность «30-8O»".
bool refused(std::string* problem, int line, const std::string& path, const char* key, const char* field,
             const std::string& value) {
  if (problem != nullptr) *problem = lineOfFile(line, path) + ": " + key + ", " + fieldShown(field, value);
  return false;
}

}  // namespace

bool readLaboratory(const std::string& path, Laboratory* out, std::string* problem) {
  std::vector<std::string> f;
  int line = 0;
  if (!keyLine(path, "Lab", &f, &line)) return true;
  Laboratory lab;
  f.resize(7);
  lab.given = true;
  lab.name = f[0];
  lab.address = f[1];
  lab.accreditation = f[2];
  lab.method = f[3];
  if (lab.name.empty()) return refused(problem, line, path, "Lab", "лаборатория", f[0]);
  if (!parseBounds(f[4], &lab.temperature)) return refused(problem, line, path, "Lab", "температура", f[4]);
  if (!parseBounds(f[5], &lab.humidity)) return refused(problem, line, path, "Lab", "влажность", f[5]);
  if (!parseBounds(f[6], &lab.pressure)) return refused(problem, line, path, "Lab", "давление", f[6]);
  *out = lab;
  return true;
}

bool readReference(const std::string& path, Reference* out, std::string* problem) {
  std::vector<std::string> f;
  int line = 0;
  if (!keyLine(path, "Ref", &f, &line)) return true;
  f.resize(4);
  if (f[0].empty()) return refused(problem, line, path, "Ref", "установка", f[0]);
  if (!validDate(f[2])) return refused(problem, line, path, "Ref", "срок поверки", f[2]);
  out->given = true;
  out->model = f[0];
  out->serial = f[1];
  out->due = f[2];
  out->fundNumber = f[3];
  if (characterCount(out->fundNumber) > 128)
    return refused(problem, line, path, "Ref", "номер в фонде", out->fundNumber);
  return true;
}

bool isSignCipher(const std::string& text) {
  // А–Я are U+0410–U+042F: D0 90 … D0 AF in UTF-8 (Ё, U+0401, is not among them).
  if (text.empty() || text.size() % 2 != 0 || text.size() > 6) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned char a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(text[i + 1]);
    if (a != 0xD0 || b < 0x90 || b > 0xAF) return false;
  }
  return true;
}

bool isStandCode(const std::string& text) {
  size_t n = characterCount(text);
  if (n == 0 || n > 8) return false;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isalnum(c)) {
      ++i;
      continue;
    }
    // Cyrillic letters: U+0400–U+045F (D0 80 … D1 9F).
    if ((c == 0xD0 || c == 0xD1) && i + 1 < text.size()) {
      unsigned char d = static_cast<unsigned char>(text[i + 1]);
      if (d >= 0x80 && d <= 0xBF && (c == 0xD0 || d <= 0x9F)) {
        i += 2;
        continue;
      }
    }
    return false;
  }
  return true;
}

bool readRegistry(const std::string& path, Registry* out, std::string* problem) {
  std::vector<std::string> f;
  int line = 0;
  if (!keyLine(path, "Registry", &f, &line)) return true;
  f.resize(3);
  if (!isSignCipher(f[0])) return refused(problem, line, path, "Registry", "шифр знака поверки", f[0]);
  if (f[1] != "0" && f[1] != "1") return refused(problem, line, path, "Registry", "знак в паспорте (1/0)", f[1]);
  if (f[2] != "0" && f[2] != "1") return refused(problem, line, path, "Registry", "знак на счётчике (1/0)", f[2]);
  out->given = true;
  out->cipher = f[0];
  out->signPass = f[1] == "1";
  out->signMi = f[2] == "1";
  return true;
}

bool readStand(const std::string& path, Stand* out, std::string* problem) {
  std::vector<std::string> f;
  int line = 0;
  if (!keyLine(path, "Stand", &f, &line)) return true;
  f.resize(1);
  if (!isStandCode(f[0])) return refused(problem, line, path, "Stand", "код стенда", f[0]);
  out->given = true;
  out->code = f[0];
  return true;
}

const ConditionRange kConditionRanges[3] = {
    {"Температура", "°C", -10, 50}, {"Влажность", "%", 0, 100}, {"Давление", "кПа", 60, 110}};

double conditionValue(const Conditions& c, int which) {
  return which == 0 ? c.temperature : which == 1 ? c.humidity : c.pressure;
}

bool conditionsPlausible(const Conditions& c) {
  for (int i = 0; i < 3; ++i) {
    double v = conditionValue(c, i);
    if (!(v >= kConditionRanges[i].low && v <= kConditionRanges[i].high)) return false;
  }
  return true;
}

std::string conditionShown(double v) {
  std::string text;
  appendf(text, "%.15g", v);
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}

std::string conditionsEcho(const Conditions& c) {
  return "Условия: " + conditionShown(c.temperature) + " °C, " + conditionShown(c.humidity) + " %, " +
         conditionShown(c.pressure) + " кПа";
}

Conditions readConditions(const std::string& path) {
  Conditions c;
  std::string bytes;
  if (readWholeFile(path, 256, &bytes) != ReadResult::kRead) return c;
  // The day and three numbers, each whole: a file edited into "22.5x" or
  // "2026-12-091" is no day's conditions, and the form asks again.
  std::vector<std::string> fields;
  size_t at = 0;
  while ((at = bytes.find_first_not_of(" \t\r\n", at)) != std::string::npos) {
    size_t end = bytes.find_first_of(" \t\r\n", at);
    fields.push_back(bytes.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  if (fields.size() != 4 || !validDate(fields[0])) return c;
  std::optional<double> t = parseDecimal(fields[1]), h = parseDecimal(fields[2]), p = parseDecimal(fields[3]);
  if (!t || !h || !p) return c;
  Conditions read;
  read.date = fields[0];
  read.temperature = *t;
  read.humidity = *h;
  read.pressure = *p;
  if (!conditionsPlausible(read)) return c;
  read.known = true;
  return read;
}

namespace {

// The shortest text that reads back as the same number.
std::string exactText(double v) {
  std::string text;
  for (int digits = 15; digits <= 17; ++digits) {
    text.clear();
    appendf(text, "%.*g", digits, v);
    if (std::strtod(text.c_str(), nullptr) == v) break;
  }
  return text;
}

}  // namespace

bool writeConditions(const std::string& path, const Conditions& c) {
  if (!validDate(c.date) || !conditionsPlausible(c)) return false;
  std::string text = c.date + " " + exactText(c.temperature) + " " + exactText(c.humidity) + " " +
                     exactText(c.pressure) + "\n";
  if (writeWholeFile(path, text) != WriteResult::kWritten) return false;
  Conditions back = readConditions(path);
  return back.known && back.date == c.date && back.temperature == c.temperature && back.humidity == c.humidity &&
         back.pressure == c.pressure;
}

std::string todayText() {
  std::tm tm{};
  if (!localTime(static_cast<int64_t>(std::time(nullptr)), &tm)) return "";
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return text;
}

}  // namespace qs
