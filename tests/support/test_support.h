// Shared helpers for the test suites: a virtual console installed as the
// program's console, and scratch folders on disk.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console/console.h"
#include "console/virtual_console.h"

namespace qs::test {

// Every screen test draws on a fresh 100 x 38 virtual console.
class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { Console::init(&vc); }
  void TearDown() override { Console::init(nullptr); }
  VirtualConsole vc;
};

// A folder of its own under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to a file below the folder (creating sub-folders); returns its path.
  std::string write(const std::string& relative, const std::string& bytes) const;
  std::string file(const std::string& relative) const { return (path_ / relative).string(); }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::string& path);

}  // namespace qs::test

#include <cstdint>
#include <vector>

#include "platform/time.h"

namespace qs::test {

// A clock for the calling thread: pauses are recorded and advance the tick
// at once instead of being slept.
class FakeClock {
 public:
  FakeClock();
  ~FakeClock();
  uint32_t now() const { return now_; }
  void advance(uint32_t ms) { now_ += ms; }
  std::vector<uint32_t> sleeps;  // every pause asked for, in order
  uint64_t slept() const;

 private:
  platform::ClockOverride clock_;
  uint32_t now_ = 1000000;
};

}  // namespace qs::test
