// The layout of results.db and how a file of an older layout is brought
// forward to it.
#pragma once
#include <string>

struct sqlite3;

namespace qs::records::schema {

// What a file holds: no tables yet, a layout of this program's (its
// version; 0 the first layout, which had no application id), or something
// else.
constexpr int kEmpty = -1, kForeign = -2, kUnreadable = -3;
int layoutOf(sqlite3* db, std::string* error);

// Makes the tables, or brings an older layout forward, inside the
// transaction the caller holds, and marks the file with this layout.
bool bringForward(sqlite3* db, int layout, std::string* error);

}  // namespace qs::records::schema
