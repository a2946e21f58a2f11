#include <windows.h>

#include "platform/new_file.h"

namespace qs::platform {

NewFile createNewFile(const std::filesystem::path& path, const std::string& bytes) {
  // CREATE_NEW fails when the name exists; readers may open it meanwhile.
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ? NewFile::kExists : NewFile::kFailed;
  }
  DWORD written = 0;
  bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
            written == bytes.size() && FlushFileBuffers(h) != 0;
  ok = CloseHandle(h) != 0 && ok;
  return ok ? NewFile::kCreated : NewFile::kFailed;
}

}  // namespace qs::platform
