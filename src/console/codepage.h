// Text encodings the program meets: UTF-8 (its own text and the terminal),
// Windows-1251 (settings and listing files prepared on Windows) and OEM 866
// (how a byte console shows bytes that are not text).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

void appendUtf8(std::string& out, char32_t codePoint);

// Decodes one UTF-8 character at `p`; returns its length, or 0 when the bytes
// there are not well-formed UTF-8 (or are cut short by `size`).
size_t decodeUtf8(const char* p, size_t size, char32_t* codePoint);

bool isValidUtf8(std::string_view text);

// How many characters a UTF-8 text shows (its bytes that begin a character).
size_t characterCount(std::string_view text);
// A UTF-8 text cut to at most `count` characters.
std::string fittedText(const std::string& text, size_t count);
// A UTF-8 text in lines of at most `width` characters: broken at its own
// line ends and at blanks, a word longer than a line cut where it must be.
std::vector<std::string> wrappedText(const std::string& text, size_t width);

std::string cp1251ToUtf8(std::string_view text);
// Characters that Windows-1251 lacks become '?'.
std::string utf8ToCp1251(std::string_view text);

// The character a byte console (OEM 866) shows for one byte.
char32_t oemGlyph(unsigned char byte);

// A settings file's text as UTF-8: files that are valid UTF-8 (a leading
// byte-order mark is dropped) stay as they are, others are read as Windows-1251.
std::string textFileToUtf8(std::string_view bytes);

}  // namespace qs
