// Names of the objects a verification stand shares on a POSIX system. They
// carry the user's id, so that two users of one machine never meet, and a
// mark of the folder the stand runs in (the master and its slaves run in one
// folder, beside the QS_ADD they read), so that two stands in two folders
// never meet either: a second stand for another installation, or a test
// beside a working stand.
#pragma once
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace qs::platform {

// "<uid>.<folder mark>", fixed when first asked for.
inline const std::string& standOwner() {
  static const std::string owner = [] {
    char folder[PATH_MAX];
    const char* path = realpath(".", folder) != nullptr ? folder : "/";
    uint64_t h = 14695981039346656037ull;  // FNV-1a over the folder's path
    for (const char* p = path; *p != '\0'; ++p) {
      h ^= static_cast<unsigned char>(*p);
      h *= 1099511628211ull;
    }
    char mark[24];
    std::snprintf(mark, sizeof mark, "%08x", static_cast<unsigned>(h ^ (h >> 32)));
    return std::to_string(getuid()) + "." + mark;
  }();
  return owner;
}

// The name of a named object (shared memory or semaphore).
inline std::string objectName(const std::string& name) { return "/qs." + standOwner() + "." + name; }

}  // namespace qs::platform
