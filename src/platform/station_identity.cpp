#include "platform/station_identity.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "platform/new_file.h"
#include "platform/process.h"
#include "platform/time.h"

namespace qs::platform {
namespace {

// The bytes of a file of at most 256 bytes.
bool readSmallFile(const std::filesystem::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  char buffer[257];
  in.read(buffer, sizeof buffer);
  if (in.gcount() > 256) return false;
  bytes->assign(buffer, static_cast<size_t>(in.gcount()));
  return true;
}

// Puts `bytes` in place of the file: written beside it, then renamed.
bool replaceFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!(out << bytes) || !out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) std::filesystem::remove(temp, ec);
  return !ec;
}

}  // namespace

std::string stationIdentity(const std::string& file, bool make) {
  std::filesystem::path path(file);
  auto kept = [&](std::string* id) {
    std::string bytes;
    if (!readSmallFile(path, &bytes)) return false;
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r' || bytes.back() == ' ')) bytes.pop_back();
    if (bytes.size() < 16 || bytes.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    *id = bytes;
    return true;
  };
  std::string id;
  if (kept(&id)) return id;
  if (!make) return "";
  std::random_device random;
  std::seed_seq seed{random(), random(), random(), random(), static_cast<unsigned>(std::time(nullptr)),
                     static_cast<unsigned>(ownProcessId()), static_cast<unsigned>(tickCount())};
  std::mt19937_64 gen(seed);
  char text[40];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(gen()),
                static_cast<unsigned long long>(gen()));
  std::string mine = std::string(text) + "\n";
  // Benches that start at once may all find no identity: one of them makes
  // the file, and the others take what it wrote (given a moment to write).
  for (int attempt = 0; attempt < 50; ++attempt) {
    NewFile made = createNewFile(path, mine);
    if (made == NewFile::kCreated) return text;
    if (made == NewFile::kFailed) return workstationName();
    if (kept(&id)) return id;
    sleepMs(20);
  }
  // A file there that holds no identity (damaged, or edited by hand) is
  // replaced.
  if (!replaceFile(path, mine)) return workstationName();
  return kept(&id) ? id : std::string(text);
}

}  // namespace qs::platform
