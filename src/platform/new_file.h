// A file made only where there is none: of all the processes that make one
// name at once, exactly one makes it and the others find it there.
#pragma once
#include <filesystem>
#include <string>

namespace qs::platform {

enum class NewFile { kCreated, kExists, kFailed };
// Creates `path` with `bytes` unless it exists (kExists, left as it is).
// A reader may see the file before its bytes are all written.
NewFile createNewFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace qs::platform
