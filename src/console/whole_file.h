// Files written and read whole, by names the operator typed (UTF-8).
#pragma once
#include <cstddef>
#include <filesystem>
#include <string>

namespace qs {

// The path of a name typed as UTF-8; false (and nothing thrown) for a name
// the system cannot take (on Windows, one that is not UTF-8 at all).
bool pathOfName(const std::string& utf8, std::filesystem::path* path);

// Writes `bytes` to a temporary file beside `name` and puts it in place of
// `name` only once every byte is on the disk, so what was there survives a
// failed write (a full disk, a name that cannot be made, a file another
// program holds). Anything but kWritten put nothing in place.
enum class WriteResult { kWritten, kCannotCreate, kWriteFailed };
WriteResult writeWholeFile(const std::string& name, const std::string& bytes);

enum class ReadResult { kRead, kCannotOpen, kNotAFile, kTooLarge };
// Reads a regular file of at most `limit` bytes.
ReadResult readWholeFile(const std::string& name, size_t limit, std::string* bytes);

}  // namespace qs
