// File names as the system joins them: the one place that knows the path
// separator of the platform.
#pragma once
#include <string>
#include <string_view>

namespace qs::platform {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// `folder` and `name` joined with the separator ("" folder: the name).
inline std::string joinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/' && out.back() != '\\') out += kPathSeparator;
  out += name;
  return out;
}

// A name typed with either separator, with the platform's own.
inline std::string withSeparators(std::string name) {
  for (char& c : name)
    if (c == '/' || c == '\\') c = kPathSeparator;
  return name;
}

}  // namespace qs::platform
