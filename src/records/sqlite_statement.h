// The few SQLite calls the records make, each in one place: prepared
// statements finalized however a function leaves, and errors as text.
// Internal to src/records.
#pragma once
#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace qs::records::sql {

inline std::string message(sqlite3* db) { return db != nullptr ? sqlite3_errmsg(db) : "нет памяти"; }

// A prepared statement that is finalized however the function leaves.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK) st_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(st_); }
  bool ok() const { return st_ != nullptr; }
  Statement& text(int i, const std::string& s) {
    sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& integer(int i, int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  Statement& real(int i, double v) {
    sqlite3_bind_double(st_, i, v);
    return *this;
  }
  Statement& realOrNull(int i, bool present, double v) {
    if (present && std::isfinite(v)) sqlite3_bind_double(st_, i, v);
    else sqlite3_bind_null(st_, i);
    return *this;
  }
  int step() { return sqlite3_step(st_); }
  std::string columnText(int i) {
    const unsigned char* t = sqlite3_column_text(st_, i);
    return t != nullptr ? reinterpret_cast<const char*>(t) : "";
  }
  int64_t columnInt(int i) { return sqlite3_column_int64(st_, i); }
  bool columnNull(int i) { return sqlite3_column_type(st_, i) == SQLITE_NULL; }
  double columnReal(int i) { return sqlite3_column_double(st_, i); }

 private:
  sqlite3_stmt* st_ = nullptr;
};

inline bool fail(sqlite3* db, std::string* error) {
  if (error != nullptr) *error = message(db);
  return false;
}

inline bool execOn(sqlite3* db, const std::string& sql, std::string* error) {
  char* text = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &text) == SQLITE_OK) return true;
  if (error != nullptr) *error = text != nullptr ? text : message(db);
  sqlite3_free(text);
  return false;
}

inline int64_t pragmaValue(sqlite3* db, const char* name, bool* ok) {
  Statement q(db, (std::string("PRAGMA ") + name).c_str());
  if (!q.ok() || q.step() != SQLITE_ROW) {
    *ok = false;
    return 0;
  }
  return q.columnInt(0);
}

// Runs the statement to its end.
inline bool done(sqlite3* db, Statement& q, std::string* error) { return q.step() == SQLITE_DONE || fail(db, error); }

}  // namespace qs::records::sql
