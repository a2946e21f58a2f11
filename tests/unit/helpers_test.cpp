// Byte helpers and text encodings.
#include <gtest/gtest.h>

#include "console/bytes.h"
#include "console/codepage.h"

namespace qs {
namespace {

TEST(Bcd, BothWays) {
  EXPECT_EQ(toBcd(42), 0x42);
  EXPECT_EQ(toBcd(99), 0x99);
  EXPECT_EQ(toBcd(0), 0x00);
  EXPECT_EQ(fromBcd(0x99), 99);
  EXPECT_EQ(fromBcd(0x42), 42);
  EXPECT_EQ(fromBcd(0x1FF), 0xF + 0xF * 10);  // only the low byte; nibbles above 9 as they are
  for (int v = 0; v < 100; ++v) EXPECT_EQ(fromBcd(toBcd(v)), v);
}

TEST(ContainsAny, EmptyTextOrSetIsZero) {
  EXPECT_EQ(containsAny("abc", ""), 0);
  EXPECT_EQ(containsAny("", "abc"), 0);
  EXPECT_EQ(containsAny("ac", "CA"), 0);
  EXPECT_EQ(containsAny("5", "0123456789"), 1);
  EXPECT_EQ(containsAny("xyz", "az"), 1);
}

TEST(Codepage, Windows1251RoundTrip) {
  const std::string cp = "\xCE\xF8\xE8\xE1\xEA\xE0 \xA8\xB8 \xB9";  // "Ошибка Ёё №"
  EXPECT_EQ(cp1251ToUtf8(cp), "Ошибка Ёё №");
  EXPECT_EQ(utf8ToCp1251("Ошибка Ёё №"), cp);
  EXPECT_EQ(utf8ToCp1251("日本"), "??");
}

TEST(Codepage, Utf8Validation) {
  EXPECT_TRUE(isValidUtf8("Привет, abc"));
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xD0"));              // cut short
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
}

TEST(Codepage, SettingsTextIsUtf8Or1251) {
  EXPECT_EQ(textFileToUtf8("\xEF\xBB\xBFменю"), "меню");
  EXPECT_EQ(textFileToUtf8("\xEC\xE5\xED\xFE"), "меню");
}

TEST(Codepage, OemGlyphs) {
  EXPECT_EQ(oemGlyph(0x80), U'А');
  EXPECT_EQ(oemGlyph(0xE0), U'р');
  EXPECT_EQ(oemGlyph(0xF0), U'Ё');
  EXPECT_EQ(oemGlyph('A'), U'A');
}

}  // namespace
}  // namespace qs
