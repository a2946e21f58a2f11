#include "console/number_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qs {

namespace {

std::string withPoint(std::string text, char point) {
  for (char& c : text)
    if (c == '.') c = point;
  return text;
}

}  // namespace

std::string decimalComma(double v) {
  char text[48];
  std::snprintf(text, sizeof text, "%g", v);
  return withPoint(text, ',');
}

std::string decimalFixed(double v, int decimals) {
  char text[400];  // (any double with up to 9 decimals)
  std::snprintf(text, sizeof text, "%.*f", decimals < 0 ? 0 : decimals > 9 ? 9 : decimals, v);
  return withPoint(text, ',');
}

std::optional<double> parseDecimal(std::string_view field) {
  size_t from = field.find_first_not_of(" \t\r\n");
  std::string t = from == std::string_view::npos
                      ? std::string()
                      : std::string(field.substr(from, field.find_last_not_of(" \t\r\n") - from + 1));
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0, separators = 0;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == ',' || c == '.') {
      if (++separators > 1) return std::nullopt;
      t[i] = '.';
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t e = ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t from = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    if (i == from || e == t.size()) return std::nullopt;
  }
  if (i != t.size()) return std::nullopt;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<unsigned long> parseHex(std::string_view field, unsigned long largest) {
  size_t from = field.find_first_not_of(" \t\r\n");
  if (from == std::string_view::npos) return std::nullopt;
  std::string_view t = field.substr(from, field.find_last_not_of(" \t\r\n") - from + 1);
  unsigned long v = 0;
  for (char c : t) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0 || static_cast<unsigned long>(digit) > largest || v > (largest - static_cast<unsigned long>(digit)) / 16) return std::nullopt;
    v = v * 16 + static_cast<unsigned long>(digit);
  }
  return v;
}

int64_t thousandths(double v) {
  if (!std::isfinite(v) || std::fabs(v) >= kLargestValue) return 0;
  return std::llround(v * 1000.0);
}

std::string fixed3(double v, char point) {
  char text[400];
  if (!std::isfinite(v) || std::fabs(v) >= kLargestValue) {
    std::snprintf(text, sizeof text, "%.3f", v);
  } else {
    int64_t t = thousandths(v);
    uint64_t size = static_cast<uint64_t>(t < 0 ? -t : t);
    std::snprintf(text, sizeof text, "%s%llu.%03llu", t < 0 ? "-" : "", static_cast<unsigned long long>(size / 1000),
                  static_cast<unsigned long long>(size % 1000));
  }
  return withPoint(text, point);
}

std::string currentText(double amperes, char point) {
  int decimals = 3;
  double size = std::fabs(amperes);
  while (decimals < 9 && size > 0 && size * std::pow(10.0, decimals) < 99.5) ++decimals;
  char text[400];
  std::snprintf(text, sizeof text, "%.*f", decimals, amperes);
  std::string out = text;
  // Digits past the third decimal only where they carry the value.
  while (decimals-- > 3 && out.back() == '0') out.pop_back();
  return withPoint(out, point);
}

}  // namespace qs
