// Line-oriented text files prepared by hand on Windows: settings and
// verification programmes.
#pragma once
#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// The lines of a file as its readers see them: text in UTF-8 (a
// Windows-1251 file is converted), CR LF read as LF, every line holding at
// most 255 characters including its newline (a longer line goes on as the
// next one). Returns false when the file cannot be opened.
bool readSettingsLines(const std::string& path, std::vector<std::string>& lines);

// Case-blind comparison of ASCII keys.
bool sameKey(std::string_view a, std::string_view b);

// printf-formatted text appended to `out`, however long.
void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendfv(std::string& out, const char* format, va_list args);

// A comment line: its first two characters are both '#'.
inline bool isCommentLine(const std::string& line) { return line.size() >= 2 && line[0] == '#' && line[1] == '#'; }

}  // namespace qs
