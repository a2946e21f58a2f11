// Text written to an output stream by the platform: the report's listing and
// messages. A write says whether the text got there: a full disk or a
// stream that cannot take it is a failure the caller can report.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/process.h"

namespace qs {
namespace {

TEST(TextOutput, EveryByteReachesTheFile) {
  // More than a console chunk or a stdio buffer, in one- to four-byte
  // characters, so that nothing is cut at a boundary.
  std::string text;
  while (text.size() < 40000) text += "Прогон 12; ёЁ №5 \xF0\x9F\x93\x88 ok\r\n";
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(platform::writeText(f, text));
  std::rewind(f);
  std::string back(text.size() + 1, '\0');
  back.resize(std::fread(back.data(), 1, back.size(), f));
  std::fclose(f);
  EXPECT_EQ(back, text);
}

TEST(TextOutput, AFailedWriteIsReported) {
  // A stream open for reading only takes nothing.
  std::string name = testing::TempDir() + "qs_text_output_read_only.txt";
  std::FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  f = std::fopen(name.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(platform::writeText(f, "Итог: годен\n"));
  std::fclose(f);
  std::remove(name.c_str());

#ifndef _WIN32
  // A full disk: a short text fits the stream's buffer, so the failure
  // shows only when the buffer goes out.
  f = std::fopen("/dev/full", "w");
  if (f == nullptr) GTEST_SKIP() << "no /dev/full";
  EXPECT_FALSE(platform::writeText(f, "Итог: годен\n"));
  std::fclose(f);
#endif
}

}  // namespace
}  // namespace qs
