#include "records/schema.h"

#include <cstdio>

#include "records/results_db.h"
#include "records/sqlite_statement.h"

namespace qs::records::schema {
namespace {

using sql::execOn;
using sql::fail;
using sql::pragmaValue;
using sql::Statement;

// The layout. `runs.id` is AUTOINCREMENT so that a protocol number is never
// given twice, even after the newest run was deleted; `points` is keyed by
// the run and the point's place in it, so a point is there once however
// often a write is tried. Times are UTC text with the writer's offset in
// minutes beside them.
constexpr const char* kTables = R"(
CREATE TABLE runs(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  started TEXT NOT NULL,
  started_offset INTEGER NOT NULL,
  ended TEXT,
  ended_offset INTEGER,
  workstation TEXT NOT NULL,
  station TEXT NOT NULL,
  bench INTEGER NOT NULL,
  address INTEGER NOT NULL,
  serial TEXT NOT NULL,
  device_type TEXT NOT NULL,
  version TEXT NOT NULL,
  programme_key TEXT NOT NULL,
  programme_id INTEGER NOT NULL,
  programme_file TEXT NOT NULL,
  pid INTEGER NOT NULL,
  pid_mark INTEGER NOT NULL,
  outcome TEXT NOT NULL DEFAULT 'open',
  verdict TEXT NOT NULL DEFAULT '',
  points_shown INTEGER NOT NULL DEFAULT 0,
  meter_type TEXT NOT NULL DEFAULT '',
  meter_class TEXT NOT NULL DEFAULT '',
  type_note TEXT NOT NULL DEFAULT '',
  measure TEXT NOT NULL DEFAULT '',
  retest_of INTEGER,
  meter_interval INTEGER NOT NULL DEFAULT 0,
  lab_name TEXT NOT NULL DEFAULT '',
  lab_address TEXT NOT NULL DEFAULT '',
  lab_accreditation TEXT NOT NULL DEFAULT '',
  lab_method TEXT NOT NULL DEFAULT '',
  temperature_bounds TEXT NOT NULL DEFAULT '',
  humidity_bounds TEXT NOT NULL DEFAULT '',
  pressure_bounds TEXT NOT NULL DEFAULT '',
  reference_model TEXT NOT NULL DEFAULT '',
  reference_serial TEXT NOT NULL DEFAULT '',
  reference_due TEXT NOT NULL DEFAULT '',
  temperature REAL,
  humidity REAL,
  pressure REAL,
  operator TEXT NOT NULL DEFAULT '',
  software TEXT NOT NULL DEFAULT '',
  meter_base REAL NOT NULL DEFAULT 0,
  meter_transformer INTEGER NOT NULL DEFAULT 0,
  programme_title TEXT NOT NULL DEFAULT '',
  owner TEXT NOT NULL DEFAULT '',
  verification_kind INTEGER NOT NULL DEFAULT 2,
  register_number TEXT NOT NULL DEFAULT '',
  modification TEXT NOT NULL DEFAULT '',
  sign_cipher TEXT NOT NULL DEFAULT '',
  sign_pass INTEGER NOT NULL DEFAULT 0,
  sign_mi INTEGER NOT NULL DEFAULT 0,
  reference_fund TEXT NOT NULL DEFAULT '',
  stand_code TEXT NOT NULL DEFAULT '',
  end_reason TEXT NOT NULL DEFAULT '');
CREATE TABLE points(
  run_id INTEGER NOT NULL REFERENCES runs(id),
  seq INTEGER NOT NULL,
  number INTEGER NOT NULL,
  u REAL NOT NULL, i REAL NOT NULL, pf REAL NOT NULL,
  load TEXT NOT NULL, phases TEXT NOT NULL,
  average REAL, channel1 REAL, channel2 REAL, channel3 REAL,
  measured TEXT NOT NULL,
  measured_offset INTEGER NOT NULL,
  duration_ms INTEGER NOT NULL,
  limit_pct REAL,
  limit_text TEXT NOT NULL,
  limit_source TEXT NOT NULL,
  state TEXT NOT NULL,
  reason TEXT NOT NULL,
  spread1 REAL, spread2 REAL, spread3 REAL,
  settling_ms INTEGER NOT NULL DEFAULT 0,
  pulses REAL,
  warning TEXT NOT NULL DEFAULT '',
  PRIMARY KEY(run_id, seq));
%READINGS%)";
// Every reading of a point (the point's channel values are their mean).
constexpr const char* kReadings = R"(
CREATE TABLE readings(
  run_id INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  reading INTEGER NOT NULL,
  taken TEXT NOT NULL,
  taken_offset INTEGER NOT NULL,
  channel1 REAL, channel2 REAL, channel3 REAL,
  PRIMARY KEY(run_id, seq, reading));
)";
// The second layout brought forward: new columns with their defaults, and
// the readings (a point of that layout was one reading, not kept apart).
constexpr const char* kFromSecondLayout = R"(
ALTER TABLE runs ADD COLUMN meter_type TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN meter_class TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN type_note TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN measure TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN retest_of INTEGER;
ALTER TABLE runs ADD COLUMN meter_interval INTEGER NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN lab_name TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN lab_address TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN lab_accreditation TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN lab_method TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN temperature_bounds TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN humidity_bounds TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN pressure_bounds TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN reference_model TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN reference_serial TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN reference_due TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN temperature REAL;
ALTER TABLE runs ADD COLUMN humidity REAL;
ALTER TABLE runs ADD COLUMN pressure REAL;
ALTER TABLE runs ADD COLUMN operator TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN software TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN meter_base REAL NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN meter_transformer INTEGER NOT NULL DEFAULT 0;
ALTER TABLE points ADD COLUMN spread1 REAL;
ALTER TABLE points ADD COLUMN spread2 REAL;
ALTER TABLE points ADD COLUMN spread3 REAL;
ALTER TABLE points ADD COLUMN settling_ms INTEGER NOT NULL DEFAULT 0;
ALTER TABLE points ADD COLUMN pulses REAL;
ALTER TABLE points ADD COLUMN warning TEXT NOT NULL DEFAULT '';
)";
// The third layout brought forward: the programme's title.
constexpr const char* kFromThirdLayout = R"(
ALTER TABLE runs ADD COLUMN programme_title TEXT NOT NULL DEFAULT '';
)";
// The fourth layout brought forward: what the national registry's record
// of a verification needs (the owner, the kind of verification, the type's
// register number and modification, the laboratory's mark, the reference's
// number in the federal fund), the stand's code, and why a run was ended
// from outside.
constexpr const char* kFromFourthLayout = R"(
ALTER TABLE runs ADD COLUMN owner TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN verification_kind INTEGER NOT NULL DEFAULT 2;
ALTER TABLE runs ADD COLUMN register_number TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN modification TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN sign_cipher TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN sign_pass INTEGER NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN sign_mi INTEGER NOT NULL DEFAULT 0;
ALTER TABLE runs ADD COLUMN reference_fund TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN stand_code TEXT NOT NULL DEFAULT '';
ALTER TABLE runs ADD COLUMN end_reason TEXT NOT NULL DEFAULT '';
CREATE INDEX IF NOT EXISTS runs_retest ON runs(retest_of);
)";
constexpr const char* kIndexes =
    "CREATE INDEX runs_serial ON runs(serial); CREATE INDEX runs_retest ON runs(retest_of);";

// The first layout brought forward: its local times become UTC with the
// offset of this computer's zone at that time (the file was written on the
// stand's own computer, whose zone is the one at hand), its limits get
// their text, and a run counts as many points shown as its highest place:
// a point that the first layout dropped left a gap there.
constexpr const char* kFromFirstLayout = R"(
ALTER TABLE runs RENAME TO runs_v0;
ALTER TABLE points RENAME TO points_v0;
DROP INDEX IF EXISTS runs_serial;
DROP INDEX IF EXISTS runs_started;
%TABLES%
INSERT INTO runs(id, started, started_offset, ended, ended_offset, workstation, station, bench, address, serial,
                 device_type, version, programme_key, programme_id, programme_file, pid, pid_mark, outcome, verdict,
                 points_shown)
SELECT id, ifnull(datetime(started, 'utc'), started),
       ifnull(CAST(round((julianday(started) - julianday(started, 'utc')) * 1440) AS INTEGER), 0),
       CASE WHEN ifnull(ended, '') = '' THEN NULL ELSE ifnull(datetime(ended, 'utc'), ended) END,
       CASE WHEN ifnull(ended, '') = '' THEN NULL
            ELSE ifnull(CAST(round((julianday(ended) - julianday(ended, 'utc')) * 1440) AS INTEGER), 0) END,
       workstation, '', bench, address, serial, device_type, version, programme_key, programme_id, programme_file,
       pid, pid_mark, outcome, verdict,
       ifnull((SELECT max(seq) FROM points_v0 WHERE run_id = runs_v0.id), 0)
FROM runs_v0;
INSERT INTO points(run_id, seq, number, u, i, pf, load, phases, average, channel1, channel2, channel3, measured,
                   measured_offset, duration_ms, limit_pct, limit_text, limit_source, state, reason)
SELECT run_id, seq, number, u, i, pf, load, phases, average, channel1, channel2, channel3,
       ifnull(datetime(measured, 'utc'), measured),
       ifnull(CAST(round((julianday(measured) - julianday(measured, 'utc')) * 1440) AS INTEGER), 0),
       duration_ms, limit_pct,
       CASE WHEN limit_pct IS NULL THEN ''
            WHEN limit_pct = round(limit_pct, 3) AND abs(limit_pct) < 1e9
            THEN replace(rtrim(rtrim(printf('%.3f', limit_pct), '0'), '.'), '.', ',')
            ELSE replace(printf('%!.15g', limit_pct), '.', ',') END,
       limit_source, state, reason
FROM points_v0;
DROP TABLE points_v0;
DROP TABLE runs_v0;
)";

int layoutOfSnapshot(sqlite3* db, std::string* error) {
  bool ok = true;
  int64_t app = pragmaValue(db, "application_id", &ok);
  int64_t version = pragmaValue(db, "user_version", &ok);
  if (!ok) {
    fail(db, error);
    return kUnreadable;
  }
  if (app == kApplicationId) return static_cast<int>(version);
  Statement q(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('runs', 'points')");
  if (!q.ok() || q.step() != SQLITE_ROW) {
    fail(db, error);
    return kUnreadable;
  }
  int64_t tables = q.columnInt(0);
  Statement any(db, "SELECT count(*) FROM sqlite_master");
  int64_t objects = any.ok() && any.step() == SQLITE_ROW ? any.columnInt(0) : -1;
  if (app == 0 && version == 0 && objects == 0) return kEmpty;
  if (app == 0 && version == 0 && tables == 2) return 0;
  if (error != nullptr) *error = "не база результатов qs";
  return kForeign;
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
  size_t at = text.find(what);
  if (at != std::string::npos) text.replace(at, what.size(), with);
  return text;
}

}  // namespace

// The layout as one moment of the file shows it: another bench may be
// making the tables meanwhile, and reads of the header and of the tables
// from two moments would make a half of each look like another program's
// database.
int layoutOf(sqlite3* db, std::string* error) {
  if (sqlite3_get_autocommit(db) == 0) return layoutOfSnapshot(db, error);
  if (!execOn(db, "BEGIN", error)) return kUnreadable;
  int layout = layoutOfSnapshot(db, error);
  execOn(db, "COMMIT", nullptr);
  return layout;
}

// Makes the tables, or brings an older layout forward, inside the
// transaction the caller holds.
bool bringForward(sqlite3* db, int layout, std::string* error) {
  std::string tables = replaced(kTables, "%READINGS%", kReadings);
  std::string sql = layout == kEmpty ? tables + kIndexes
                    : layout == 0    ? replaced(kFromFirstLayout, "%TABLES%", tables) + kIndexes
                    : layout == 1    ? std::string(kFromSecondLayout) + kReadings + kFromThirdLayout + kFromFourthLayout
                    : layout == 2    ? std::string(kFromThirdLayout) + kFromFourthLayout
                                     : std::string(kFromFourthLayout);
  char pragmas[96];
  std::snprintf(pragmas, sizeof pragmas, "PRAGMA application_id = %d; PRAGMA user_version = %d;", kApplicationId,
                kSchemaVersion);
  sql += pragmas;
  return execOn(db, sql, error);
}

}  // namespace qs::records::schema
