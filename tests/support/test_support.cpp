#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

namespace qs::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("qs-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& relative, const std::string& bytes) const {
  std::filesystem::path p = path_ / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << bytes;
  return p.string();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace qs::test

namespace qs::test {

FakeClock::FakeClock() {
  clock_.sleep = [this](uint32_t ms) {
    sleeps.push_back(ms);
    now_ += ms;
  };
  clock_.tick = [this] { return now_; };
  platform::setClockOverride(&clock_);
}

FakeClock::~FakeClock() { platform::setClockOverride(nullptr); }

uint64_t FakeClock::slept() const {
  uint64_t total = 0;
  for (uint32_t s : sleeps) total += s;
  return total;
}

}  // namespace qs::test
