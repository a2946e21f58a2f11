// Terminal key sequences to the console's key codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/key_decoder.h"

namespace qs::platform {
namespace {

std::vector<std::string> decodeAll(const std::string& bytes, bool expire = true) {
  KeyDecoder d;
  d.feed(bytes.data(), bytes.size());
  if (expire) d.expire();
  std::vector<std::string> keys;
  while (d.hasKey()) keys.push_back(d.popKey());
  return keys;
}

std::string cursor(int scan) { return std::string{'\xE0', static_cast<char>(scan)}; }
std::string fkey(int scan) { return std::string{'\0', static_cast<char>(scan)}; }

TEST(KeyDecoder, CursorBlockInEveryForm) {
  struct Case {
    const char* seq;
    int scan;
  } cases[] = {
      {"\x1b[A", 0x48}, {"\x1b[B", 0x50}, {"\x1b[C", 0x4D}, {"\x1b[D", 0x4B}, {"\x1bOA", 0x48},
      {"\x1bOD", 0x4B}, {"\x1b[H", 0x47}, {"\x1b[F", 0x4F}, {"\x1bOH", 0x47}, {"\x1bOF", 0x4F},
      {"\x1b[1~", 0x47}, {"\x1b[4~", 0x4F}, {"\x1b[2~", 0x52}, {"\x1b[3~", 0x53}, {"\x1b[5~", 0x49},
      {"\x1b[6~", 0x51}, {"\x1b[1;5A", 0x48}, {"\x1b[5;2~", 0x49},
  };
  for (const auto& c : cases) {
    auto keys = decodeAll(c.seq);
    ASSERT_EQ(keys.size(), 1u) << c.seq + 1;
    EXPECT_EQ(keys[0], cursor(c.scan)) << c.seq + 1;
  }
}

TEST(KeyDecoder, FunctionKeysOneToNine) {
  const char* seqs[] = {"\x1bOP", "\x1bOQ", "\x1bOR", "\x1bOS", "\x1b[15~",
                        "\x1b[17~", "\x1b[18~", "\x1b[19~", "\x1b[20~"};
  for (int i = 0; i < 9; ++i) {
    auto keys = decodeAll(seqs[i]);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0], fkey(0x3B + i)) << "F" << i + 1;
  }
  EXPECT_EQ(decodeAll("\x1b[11~\x1b[14~"), (std::vector<std::string>{fkey(0x3B), fkey(0x3E)}));
  EXPECT_EQ(decodeAll("\x1b[[A\x1b[[E"), (std::vector<std::string>{fkey(0x3B), fkey(0x3F)}));
}

TEST(KeyDecoder, EnterBackspaceAndPlainKeys) {
  EXPECT_EQ(decodeAll("a\r\n\x7f\x08"), (std::vector<std::string>{"a", "\r", "\r", "\b", "\b"}));
}

TEST(KeyDecoder, LoneEscOnlyAfterTheWait) {
  KeyDecoder d;
  d.feed("\x1b", 1);
  EXPECT_FALSE(d.hasKey());
  EXPECT_TRUE(d.waitingForMore());
  d.expire();
  ASSERT_TRUE(d.hasKey());
  EXPECT_EQ(d.popKey(), "\x1b");
  EXPECT_FALSE(d.waitingForMore());
}

TEST(KeyDecoder, SequenceSplitAcrossReads) {
  KeyDecoder d;
  d.feed("\x1b[", 2);
  EXPECT_FALSE(d.hasKey());
  d.feed("2", 1);
  EXPECT_FALSE(d.hasKey());
  d.feed("0~x", 3);
  EXPECT_EQ(d.popKey(), fkey(0x43));
  EXPECT_EQ(d.popKey(), "x");
}

TEST(KeyDecoder, EscTwiceGivesTwoEscKeys) {
  EXPECT_EQ(decodeAll("\x1b\x1b"), (std::vector<std::string>{"\x1b", "\x1b"}));
}

TEST(KeyDecoder, UnknownSequencesAreDroppedWhole) {
  EXPECT_EQ(decodeAll("\x1b[99~a\x1b[Zb\x1bOxc\x1bqd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  // An unfinished sequence that never completes is dropped too.
  EXPECT_TRUE(decodeAll("\x1b[12").empty());
}

TEST(KeyDecoder, Utf8CharactersArriveWhole) {
  KeyDecoder d;
  d.feed("\xD0", 1);
  EXPECT_FALSE(d.hasKey());
  d.feed("\x96z", 2);
  EXPECT_EQ(d.popKey(), "Ж");
  EXPECT_EQ(d.popKey(), "z");
  // Bytes that are not UTF-8 pass one at a time.
  EXPECT_EQ(decodeAll("\xFF\xD0x"), (std::vector<std::string>{"\xFF", "\xD0", "x"}));
}

}  // namespace
}  // namespace qs::platform
