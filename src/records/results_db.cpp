#include "records/results_db.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "devlink/local_time.h"
#include "platform/process.h"

namespace qs::records {
namespace {

// The schema. `points` is keyed by the run and the point's place in it, so
// a point is there once however often a writer is interrupted.
constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS runs(
  id INTEGER PRIMARY KEY,
  started TEXT NOT NULL,
  ended TEXT,
  workstation TEXT NOT NULL,
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
  verdict TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS runs_serial ON runs(serial);
CREATE INDEX IF NOT EXISTS runs_started ON runs(started);
CREATE TABLE IF NOT EXISTS points(
  run_id INTEGER NOT NULL REFERENCES runs(id),
  seq INTEGER NOT NULL,
  number INTEGER NOT NULL,
  u REAL NOT NULL, i REAL NOT NULL, pf REAL NOT NULL,
  load TEXT NOT NULL, phases TEXT NOT NULL,
  average REAL, channel1 REAL, channel2 REAL, channel3 REAL,
  measured TEXT NOT NULL,
  duration_ms INTEGER NOT NULL,
  limit_pct REAL,
  limit_source TEXT NOT NULL,
  state TEXT NOT NULL,
  reason TEXT NOT NULL,
  PRIMARY KEY(run_id, seq));
)";

std::string message(sqlite3* db) { return db != nullptr ? sqlite3_errmsg(db) : "нет памяти"; }

// A prepared statement that is finalized however the function leaves.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
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
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

bool fail(sqlite3* db, std::string* error) {
  if (error != nullptr) *error = message(db);
  return false;
}

}  // namespace

const char* stateWord(PointState state) {
  switch (state) {
    case PointState::Passed: return "passed";
    case PointState::Failed: return "failed";
    case PointState::NotMeasured: return "not measured";
    default: return "";
  }
}

const char* stateText(PointState state) {
  switch (state) {
    case PointState::Passed: return "годен";
    case PointState::Failed: return "не годен";
    case PointState::NotMeasured: return "не измерено";
    default: return "";
  }
}

const char* endWord(RunEnd end) {
  switch (end) {
    case RunEnd::Finished: return "finished";
    case RunEnd::Interrupted: return "interrupted";
    case RunEnd::Lost: return "lost";
    default: return "open";
  }
}

PointState stateOfWord(const std::string& word) {
  if (word == "passed") return PointState::Passed;
  if (word == "failed") return PointState::Failed;
  if (word == "not measured") return PointState::NotMeasured;
  return PointState::Unjudged;
}

RunEnd endOfWord(const std::string& word) {
  if (word == "finished") return RunEnd::Finished;
  if (word == "interrupted") return RunEnd::Interrupted;
  if (word == "lost") return RunEnd::Lost;
  return RunEnd::Open;
}

PointState judgePoint(const PointRecord& p) {
  bool all = p.averageFresh;
  for (bool fresh : p.channelFresh) all = all && fresh;
  if (!all) return PointState::NotMeasured;
  if (!(p.limit >= 0)) return PointState::Unjudged;
  for (double v : p.channel)
    if (!(std::fabs(v) <= p.limit)) return PointState::Failed;
  return PointState::Passed;
}

std::string runVerdict(const std::vector<PointState>& states, bool anyLimit, bool finished) {
  if (!anyLimit) return "";
  bool notMeasured = !finished;
  for (PointState s : states) {
    if (s == PointState::Failed) return stateWord(PointState::Failed);
    if (s == PointState::NotMeasured) notMeasured = true;
  }
  return stateWord(notMeasured ? PointState::NotMeasured : PointState::Passed);
}

std::string localStamp() {
  std::tm tm{};
  char text[32] = "";
  if (localTime(static_cast<int64_t>(std::time(nullptr)), &tm)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::unique_ptr<ResultsDb> ResultsDb::open(const std::string& path, bool create, std::string* error) {
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK && !create) {  // a report may read what it cannot write
    sqlite3_close(db);
    db = nullptr;
    rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
  }
  if (rc != SQLITE_OK) {
    if (error != nullptr) *error = message(db);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<ResultsDb> out(new ResultsDb(db));
  // The schema is made once; a file that is not a database, or a database
  // of something else, is refused here.
  if (create && !out->exec(kSchema, error)) return nullptr;
  Statement check(db, "SELECT count(*) FROM runs, points WHERE 0");
  if (!check.ok() || check.step() != SQLITE_ROW) {
    if (error != nullptr) *error = message(db);
    return nullptr;
  }
  return out;
}

ResultsDb::~ResultsDb() { sqlite3_close(db_); }

bool ResultsDb::exec(const char* sql, std::string* error) {
  char* text = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &text) == SQLITE_OK) return true;
  if (error != nullptr) *error = text != nullptr ? text : message(db_);
  sqlite3_free(text);
  return false;
}

int ResultsDb::markLostRuns(const std::string& workstation, std::string* error) {
  std::vector<int64_t> lost;
  {
    Statement q(db_, "SELECT id, pid, pid_mark FROM runs WHERE outcome = 'open' AND workstation = ?");
    if (!q.ok()) { fail(db_, error); return -1; }
    q.text(1, workstation);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
      uint32_t pid = static_cast<uint32_t>(q.columnInt(1));
      uint64_t mark = static_cast<uint64_t>(q.columnInt(2));
      bool running = platform::pidRunning(pid) && platform::processStartMark(pid) == mark;
      if (!running) lost.push_back(q.columnInt(0));
    }
    if (rc != SQLITE_DONE) { fail(db_, error); return -1; }
  }
  for (int64_t id : lost) {
    Statement u(db_, "UPDATE runs SET outcome = 'lost', verdict = CASE verdict WHEN '' THEN '' ELSE 'not measured' END "
                     "WHERE id = ? AND outcome = 'open'");
    if (!u.ok()) { fail(db_, error); return -1; }
    u.integer(1, id);
    if (u.step() != SQLITE_DONE) { fail(db_, error); return -1; }
  }
  return static_cast<int>(lost.size());
}

int64_t ResultsDb::startRun(const RunInfo& r, std::string* error) {
  Statement q(db_,
              "INSERT INTO runs(started, workstation, bench, address, serial, device_type, version, programme_key, "
              "programme_id, programme_file, pid, pid_mark) VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
  if (!q.ok()) { fail(db_, error); return -1; }
  q.text(1, r.started).text(2, r.workstation).integer(3, r.bench).integer(4, r.address).text(5, r.serial);
  q.text(6, r.deviceType).text(7, r.version).text(8, r.programmeKey).integer(9, r.programmeId);
  q.text(10, r.programmeFile).integer(11, r.pid).integer(12, static_cast<int64_t>(r.pidMark));
  if (q.step() != SQLITE_DONE) { fail(db_, error); return -1; }
  return sqlite3_last_insert_rowid(db_);
}

bool ResultsDb::addPoint(int64_t run, const PointRecord& p, std::string* error) {
  Statement q(db_,
              "INSERT INTO points(run_id, seq, number, u, i, pf, load, phases, average, channel1, channel2, channel3, "
              "measured, duration_ms, limit_pct, limit_source, state, reason) "
              "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  if (!q.ok()) return fail(db_, error);
  q.integer(1, run).integer(2, p.seq).integer(3, p.number).real(4, p.U).real(5, p.I).real(6, p.PF);
  q.text(7, p.load).text(8, p.phases).realOrNull(9, p.averageFresh, p.average);
  for (int n = 0; n < 3; ++n) q.realOrNull(10 + n, p.channelFresh[n], p.channel[n]);
  q.text(13, p.measured).integer(14, p.durationMs).realOrNull(15, p.limit >= 0, p.limit);
  q.text(16, p.limitSource).text(17, stateWord(p.state)).text(18, p.reason);
  return q.step() == SQLITE_DONE || fail(db_, error);
}

bool ResultsDb::endRun(int64_t run, RunEnd end, const std::string& ended, const std::string& verdict,
                       std::string* error) {
  Statement q(db_, "UPDATE runs SET ended = ?, outcome = ?, verdict = ? WHERE id = ?");
  if (!q.ok()) return fail(db_, error);
  q.text(1, ended).text(2, endWord(end)).text(3, verdict).integer(4, run);
  return q.step() == SQLITE_DONE || fail(db_, error);
}

bool ResultsDb::runs(const std::string& serial, const std::string& since, int limit, std::vector<RunRow>* out,
                     std::string* error) {
  Statement q(db_,
              "SELECT id, started, ifnull(ended, ''), workstation, bench, address, serial, device_type, version, "
              "programme_key, programme_id, programme_file, outcome, verdict, "
              "(SELECT count(*) FROM points WHERE run_id = runs.id) FROM runs "
              "WHERE (?1 = '' OR upper(ltrim(serial, '0')) = upper(ltrim(?1, '0'))) AND (?2 = '' OR started >= ?2) "
              "ORDER BY started DESC, id DESC LIMIT ?3");
  if (!q.ok()) return fail(db_, error);
  q.text(1, serial).text(2, since).integer(3, limit > 0 ? limit : -1);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) {
    RunRow r;
    r.id = q.columnInt(0);
    r.info.started = q.columnText(1);
    r.ended = q.columnText(2);
    r.info.workstation = q.columnText(3);
    r.info.bench = static_cast<int>(q.columnInt(4));
    r.info.address = static_cast<int>(q.columnInt(5));
    r.info.serial = q.columnText(6);
    r.info.deviceType = q.columnText(7);
    r.info.version = q.columnText(8);
    r.info.programmeKey = q.columnText(9);
    r.info.programmeId = static_cast<int>(q.columnInt(10));
    r.info.programmeFile = q.columnText(11);
    r.end = endOfWord(q.columnText(12));
    r.verdict = q.columnText(13);
    r.points = static_cast<int>(q.columnInt(14));
    out->push_back(r);
  }
  return rc == SQLITE_DONE || fail(db_, error);
}

bool ResultsDb::pointsOf(int64_t run, std::vector<PointRecord>* out, std::string* error) {
  Statement q(db_,
              "SELECT seq, number, u, i, pf, load, phases, average, channel1, channel2, channel3, measured, "
              "duration_ms, limit_pct, limit_source, state, reason FROM points WHERE run_id = ? ORDER BY seq");
  if (!q.ok()) return fail(db_, error);
  q.integer(1, run);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) {
    PointRecord p;
    p.seq = static_cast<int>(q.columnInt(0));
    p.number = static_cast<int>(q.columnInt(1));
    p.U = q.columnReal(2);
    p.I = q.columnReal(3);
    p.PF = q.columnReal(4);
    p.load = q.columnText(5);
    p.phases = q.columnText(6);
    p.averageFresh = !q.columnNull(7);
    p.average = q.columnReal(7);
    for (int n = 0; n < 3; ++n) {
      p.channelFresh[n] = !q.columnNull(8 + n);
      p.channel[n] = q.columnReal(8 + n);
    }
    p.measured = q.columnText(11);
    p.durationMs = q.columnInt(12);
    p.limit = q.columnNull(13) ? -1 : q.columnReal(13);
    p.limitSource = q.columnText(14);
    p.state = stateOfWord(q.columnText(15));
    p.reason = q.columnText(16);
    out->push_back(p);
  }
  return rc == SQLITE_DONE || fail(db_, error);
}

}  // namespace qs::records
