#include "console/text_file.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "console/codepage.h"

namespace qs {
namespace {

constexpr size_t kLineChars = 255;  // a 256-byte line buffer with its terminator

}  // namespace

bool readSettingsLines(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string text = textFileToUtf8(raw);
  lines.clear();
  std::string line;
  size_t chars = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;  // text mode: CR LF is one newline
      continue;
    }
    char32_t cp;
    size_t n = decodeUtf8(text.data() + i, text.size() - i, &cp);
    if (n == 0) n = 1;
    line.append(text, i, n);
    i += n;
    ++chars;
    if (line.back() == '\n' || chars == kLineChars) {
      lines.push_back(std::move(line));
      line.clear();
      chars = 0;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return true;
}

bool sameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

void appendfv(std::string& out, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  if (n > 0) {
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(&out[at], static_cast<size_t>(n) + 1, format, again);
    out.resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}

void appendf(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  appendfv(out, format, args);
  va_end(args);
}

}  // namespace qs
