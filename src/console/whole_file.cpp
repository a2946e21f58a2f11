#include "console/whole_file.h"

#include <fstream>
#include <system_error>

namespace qs {

bool pathOfName(const std::string& utf8, std::filesystem::path* path) {
  if (utf8.empty()) return false;
  try {
    *path = std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
  } catch (...) {
    return false;
  }
  return true;
}

WriteResult writeWholeFile(const std::string& name, const std::string& bytes) {
  std::filesystem::path target, temp;
  if (!pathOfName(name, &target) || !pathOfName(name + ".tmp", &temp)) return WriteResult::kCannotCreate;
  std::error_code ec;
  if (std::filesystem::is_directory(target, ec)) return WriteResult::kCannotCreate;
  bool written;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return WriteResult::kCannotCreate;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();  // the last bytes reach the disk here, or fail here
    written = !out.fail();
  }
  if (written) {
    std::filesystem::rename(temp, target, ec);
    if (!ec) return WriteResult::kWritten;
  }
  std::filesystem::remove(temp, ec);
  return written ? WriteResult::kCannotCreate : WriteResult::kWriteFailed;
}

ReadResult readWholeFile(const std::string& name, size_t limit, std::string* bytes) {
  std::filesystem::path path;
  if (!pathOfName(name, &path)) return ReadResult::kCannotOpen;
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return ReadResult::kCannotOpen;
  if (!std::filesystem::is_regular_file(status)) return ReadResult::kNotAFile;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return ReadResult::kCannotOpen;
  bytes->assign(limit + 1, '\0');
  in.read(bytes->data(), static_cast<std::streamsize>(limit + 1));
  bytes->resize(static_cast<size_t>(in.gcount()));
  if (bytes->size() > limit) {
    bytes->clear();
    return ReadResult::kTooLarge;
  }
  return ReadResult::kRead;
}

}  // namespace qs
