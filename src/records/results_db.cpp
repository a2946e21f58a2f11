#include "records/results_db.h"

#include <sqlite3.h>

#include "records/schema.h"
#include "records/sqlite_statement.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <random>

#include "console/whole_file.h"
#include "devlink/local_time.h"
#include "settings/calendar.h"
#include "console/text_file.h"
#include "platform/new_file.h"
#include "platform/process.h"
#include "platform/time.h"

namespace qs::records {
namespace {

using schema::kEmpty;
using schema::kForeign;
using schema::kUnreadable;
using sql::done;
using sql::execOn;
using sql::fail;
using sql::message;
using sql::pragmaValue;
using sql::Statement;

Stamp stampOf(Statement& q, int textColumn, int offsetColumn) {
  Stamp s;
  if (q.columnNull(textColumn) || !parseUtcText(q.columnText(textColumn), &s.utc)) s.utc = -1;
  s.offsetMin = static_cast<int>(q.columnInt(offsetColumn));
  return s;
}


}  // namespace

const char* endWord(RunEnd end) {
  switch (end) {
    case RunEnd::Finished: return "finished";
    case RunEnd::Interrupted: return "interrupted";
    case RunEnd::Lost: return "lost";
    default: return "open";
  }
}

RunEnd endOfWord(const std::string& word) {
  if (word == "finished") return RunEnd::Finished;
  if (word == "interrupted") return RunEnd::Interrupted;
  if (word == "lost") return RunEnd::Lost;
  return RunEnd::Open;
}

metrology::PointEvidence evidenceOf(const PointRecord& p) {
  metrology::PointEvidence e;
  e.measured = p.averageFresh;
  for (int n = 0; n < 3; ++n) {
    e.measured = e.measured && p.channelFresh[n] && std::isfinite(p.channel[n]);
    e.channel[n] = p.channel[n];
  }
  e.limit = p.limit;
  e.limitSought = limitSought(p);
  e.pulses = p.pulses;
  e.minPulses = p.minPulses;
  return e;
}

PointState judgePoint(const PointRecord& p) { return metrology::judgePoint(evidenceOf(p)); }

void judge(PointRecord& p) {
  p.state = judgePoint(p);
  if (p.state == PointState::NotMeasured && p.reason.empty() && tooFewPulses(p)) p.reason = pulsesReason(p);
  if (p.state == PointState::NotJudged) p.reason = p.limitSource;
}

bool limitSought(const PointRecord& p) { return !p.limit.empty() || !p.limitSource.empty(); }

bool tooFewPulses(const PointRecord& p) { return metrology::tooFewPulses(p.pulses, p.minPulses); }

std::string pulsesReason(const PointRecord& p) { return metrology::pulsesReason(p.pulses, p.minPulses); }

std::unique_ptr<ResultsDb> ResultsDb::open(const std::string& path, Access access, std::string* error) {
  bool write = access == Access::Write;
  sqlite3* db = nullptr;
  int flags = (write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    if (error != nullptr) *error = message(db);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<ResultsDb> out(new ResultsDb(db));
  int layout = schema::layoutOf(db, error);
  if (layout == kForeign || layout == kUnreadable) return nullptr;
  if (layout > kSchemaVersion && write) {
    if (error != nullptr) *error = kNewerFileText;
    return nullptr;
  }
  out->fileVersion_ = layout == kEmpty ? kSchemaVersion : layout;
  if (write) {
    // A reader never holds up a writer, and a writer never a reader.
    // Where the file system cannot share the journal's index (a network
    // share), SQLite keeps its rollback journal: readers then hold up
    // writers, which the bench says.
    {
      Statement wal(db, "PRAGMA journal_mode = WAL");
      out->walUnavailable_ = !(wal.ok() && wal.step() == SQLITE_ROW && sameKey(wal.columnText(0), "wal"));
    }
    if (layout < kSchemaVersion) {
      // Another process may be doing the same: the layout is looked at
      // again under the write lock.
      if (!out->exec("BEGIN IMMEDIATE", error)) return nullptr;
      int now = schema::layoutOf(db, error);
      bool ok = now >= kEmpty && (now == kSchemaVersion || schema::bringForward(db, now, error));
      if (!ok || !out->exec("COMMIT", error)) {
        execOn(db, "ROLLBACK", nullptr);
        return nullptr;
      }
    }
  } else if (layout == kEmpty) {
    if (error != nullptr) *error = "не база результатов qs";
    return nullptr;
  } else if (layout < kSchemaVersion) {
    // Read through a copy brought forward in memory: the file stays as it is.
    sqlite3* memory = nullptr;
    if (sqlite3_open_v2(":memory:", &memory, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
      fail(memory, error);
      sqlite3_close(memory);
      return nullptr;
    }
    std::unique_ptr<ResultsDb> copy(new ResultsDb(memory));
    sqlite3_backup* b = sqlite3_backup_init(memory, "main", db, "main");
    bool copied = b != nullptr && sqlite3_backup_step(b, -1) == SQLITE_DONE;
    sqlite3_backup_finish(b);
    if (!copied) {
      fail(b == nullptr ? memory : db, error);
      return nullptr;
    }
    if (!copy->exec("BEGIN", error) || !schema::bringForward(memory, layout, error) || !copy->exec("COMMIT", error))
      return nullptr;
    copy->fileVersion_ = layout;
    out = std::move(copy);
  }
  Statement check(out->db_, "SELECT count(*) FROM runs, points WHERE 0");
  if (!check.ok() || check.step() != SQLITE_ROW) {
    fail(out->db_, error);
    return nullptr;
  }
  return out;
}

ResultsDb::~ResultsDb() { sqlite3_close(db_); }

bool ResultsDb::exec(const char* sql, std::string* error) { return execOn(db_, sql, error); }

bool ResultsDb::checkpoint() {
  // Never waiting: a checkpoint that waited for a reader would hold up the
  // other benches' writes meanwhile. What a reader keeps back goes into the
  // file at the next run's end.
  int log = 0, done = 0;
  return sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, &log, &done) == SQLITE_OK && done >= log;
}

int ResultsDb::markLostRuns(const std::string& station, const std::string& workstation, std::string* error) {
  std::vector<int64_t> lost;
  {
    Statement q(db_,
                "SELECT id, pid, pid_mark, station, workstation FROM runs WHERE outcome = 'open' AND "
                "((?1 <> '' AND station = ?1) OR (station = '' AND workstation = ?2 AND ?2 <> ''))");
    if (!q.ok()) {
      fail(db_, error);
      return -1;
    }
    q.text(1, station).text(2, workstation);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
      RunRow r;
      r.end = RunEnd::Open;
      r.info.pid = static_cast<uint32_t>(q.columnInt(1));
      r.info.pidMark = static_cast<uint64_t>(q.columnInt(2));
      r.info.station = q.columnText(3);
      r.info.workstation = q.columnText(4);
      if (writerGone(r, station, workstation)) lost.push_back(q.columnInt(0));
    }
    if (rc != SQLITE_DONE) {
      fail(db_, error);
      return -1;
    }
  }
  for (int64_t id : lost) {
    // The verdict its recorded points give, by the decision rule.
    std::vector<PointState> states;
    bool anyLimit = false;
    Statement q(db_, "SELECT state, limit_text, limit_source FROM points WHERE run_id = ?");
    if (!q.ok()) {
      fail(db_, error);
      return -1;
    }
    q.integer(1, id);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
      states.push_back(stateOfWord(q.columnText(0)));
      anyLimit = anyLimit || !q.columnText(1).empty() || !q.columnText(2).empty();
    }
    if (rc != SQLITE_DONE) {
      fail(db_, error);
      return -1;
    }
    Statement u(db_, "UPDATE runs SET outcome = 'lost', verdict = ?2 WHERE id = ?1 AND outcome = 'open'");
    if (!u.ok()) {
      fail(db_, error);
      return -1;
    }
    u.integer(1, id).text(2, lostVerdict(states, anyLimit));
    if (!done(db_, u, error)) return -1;
  }
  return static_cast<int>(lost.size());
}

bool ResultsDb::record(const RunInfo& r, int64_t* run, const std::vector<PointRecord>& points, int shown,
                       const RunEndRecord* end, std::string* error) {
  if (!exec("BEGIN IMMEDIATE", error)) return false;
  int64_t id = *run;
  auto write = [&]() -> bool {
    // A newer qs may have brought the file forward since it was opened.
    bool ok = true;
    if (pragmaValue(db_, "user_version", &ok) > kSchemaVersion || !ok) {
      if (error != nullptr) *error = ok ? kNewerFileText : message(db_);
      return false;
    }
    if (id < 0) {
      Statement q(db_,
                  "INSERT INTO runs(started, started_offset, workstation, station, bench, address, serial, "
                  "device_type, version, programme_key, programme_id, programme_file, pid, pid_mark, meter_type, "
                  "meter_class, type_note, measure, retest_of, meter_interval, lab_name, lab_address, "
                  "lab_accreditation, lab_method, temperature_bounds, humidity_bounds, pressure_bounds, "
                  "reference_model, reference_serial, reference_due, temperature, humidity, pressure, operator, "
                  "software, meter_base, meter_transformer, programme_title, owner, verification_kind, "
                  "register_number, modification, sign_cipher, sign_pass, sign_mi, reference_fund, stand_code) "
                  "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
      if (!q.ok()) return fail(db_, error);
      q.text(1, utcText(r.started.utc)).integer(2, r.started.offsetMin).text(3, r.workstation).text(4, r.station);
      q.integer(5, r.bench).integer(6, r.address).text(7, r.serial).text(8, r.deviceType).text(9, r.version);
      q.text(10, r.programmeKey).integer(11, r.programmeId).text(12, r.programmeFile).integer(13, r.pid);
      q.integer(14, static_cast<int64_t>(r.pidMark)).text(15, r.meterType).text(16, r.meterClass);
      q.text(17, r.typeNote).text(18, r.measure);
      if (r.retestOf > 0) q.integer(19, r.retestOf);
      q.integer(20, r.meterInterval).text(21, r.labName).text(22, r.labAddress).text(23, r.labAccreditation);
      q.text(24, r.labMethod).text(25, r.temperatureBounds).text(26, r.humidityBounds).text(27, r.pressureBounds);
      q.text(28, r.referenceModel).text(29, r.referenceSerial).text(30, r.referenceDue);
      q.realOrNull(31, r.conditionsKnown, r.temperature).realOrNull(32, r.conditionsKnown, r.humidity);
      q.realOrNull(33, r.conditionsKnown, r.pressure).text(34, r.operatorName).text(35, r.software);
      q.real(36, r.meterBase).integer(37, r.meterTransformer ? 1 : 0).text(38, r.programmeTitle);
      q.text(39, r.owner).integer(40, r.verificationKind).text(41, r.registerNumber).text(42, r.modification);
      q.text(43, r.signCipher).integer(44, r.signPass ? 1 : 0).integer(45, r.signMi ? 1 : 0);
      q.text(46, r.referenceFund).text(47, r.standCode);
      if (!done(db_, q, error)) return false;
      id = sqlite3_last_insert_rowid(db_);
    }
    for (const PointRecord& p : points) {
      Statement q(db_,
                  "INSERT INTO points(run_id, seq, number, u, i, pf, load, phases, average, channel1, channel2, "
                  "channel3, measured, measured_offset, duration_ms, limit_pct, limit_text, limit_source, state, "
                  "reason, spread1, spread2, spread3, settling_ms, pulses, warning) "
                  "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT(run_id, seq) DO NOTHING");
      if (!q.ok()) return fail(db_, error);
      q.integer(1, id).integer(2, p.seq).integer(3, p.number).real(4, p.U).real(5, p.I).real(6, p.PF);
      q.text(7, p.load).text(8, p.phases).realOrNull(9, p.averageFresh, p.average);
      for (int n = 0; n < 3; ++n) q.realOrNull(10 + n, p.channelFresh[n], p.channel[n]);
      q.text(13, utcText(p.measured.utc)).integer(14, p.measured.offsetMin).integer(15, p.durationMs);
      int64_t limit = 0;
      q.realOrNull(16, parseLimit(p.limit, &limit), static_cast<double>(limit) / 1000.0);
      q.text(17, p.limit).text(18, p.limitSource).text(19, stateWord(p.state)).text(20, p.reason);
      for (int n = 0; n < 3; ++n) q.realOrNull(21 + n, p.spreadKnown[n], p.spread[n]);
      q.integer(24, p.settlingMs).realOrNull(25, p.pulses >= 0, p.pulses).text(26, p.warning);
      if (!done(db_, q, error)) return false;
      for (size_t k = 0; k < p.readings.size(); ++k) {
        const Reading& g = p.readings[k];
        Statement w(db_,
                    "INSERT INTO readings(run_id, seq, reading, taken, taken_offset, channel1, channel2, channel3) "
                    "VALUES(?,?,?,?,?,?,?,?) ON CONFLICT(run_id, seq, reading) DO NOTHING");
        if (!w.ok()) return fail(db_, error);
        w.integer(1, id).integer(2, p.seq).integer(3, static_cast<int64_t>(k + 1)).text(4, utcText(g.taken.utc));
        w.integer(5, g.taken.offsetMin);
        for (int n = 0; n < 3; ++n) w.realOrNull(6 + n, g.fresh[n], g.channel[n]);
        if (!done(db_, w, error)) return false;
      }
    }
    Statement u(db_,
                end != nullptr
                    ? "UPDATE runs SET points_shown = ?2, ended = ?3, ended_offset = ?4, outcome = ?5, verdict = ?6, "
                      "end_reason = ?7 WHERE id = ?1"
                    : "UPDATE runs SET points_shown = ?2 WHERE id = ?1");
    if (!u.ok()) return fail(db_, error);
    u.integer(1, id).integer(2, shown);
    if (end != nullptr) {
      u.text(3, utcText(end->ended.utc)).integer(4, end->ended.offsetMin).text(5, endWord(end->end));
      u.text(6, end->verdict).text(7, end->reason);
    }
    return done(db_, u, error);
  };
  if (write() && exec("COMMIT", error)) {
    *run = id;
    // A run that has ended is in the database file itself, not only in its
    // journal: a copy of the file alone, made by hand, holds it.
    if (end != nullptr) checkpoint();
    return true;
  }
  execOn(db_, "ROLLBACK", nullptr);
  return false;
}

bool ResultsDb::runs(const std::string& serial, const std::string& since, int limit, std::vector<RunRow>* out,
                     std::string* error) {
  return selectRuns(-1, serial, since, limit, out, error);
}

bool ResultsDb::run(int64_t id, RunRow* out, std::string* error) {
  std::vector<RunRow> found;
  if (!selectRuns(id < 0 ? 0 : id, "", "", 1, &found, error)) return false;
  if (found.empty()) {
    if (error != nullptr) *error = "нет прогона " + std::to_string(id);
    return false;
  }
  *out = found.front();
  return true;
}

bool ResultsDb::selectRuns(int64_t onlyId, const std::string& serial, const std::string& since, int limit,
                           std::vector<RunRow>* out, std::string* error) {
  Statement q(db_,
              "SELECT id, started, started_offset, ended, ifnull(ended_offset, 0), workstation, station, bench, "
              "address, serial, device_type, version, programme_key, programme_id, programme_file, pid, pid_mark, "
              "outcome, verdict, points_shown, (SELECT count(*) FROM points WHERE run_id = runs.id), meter_type, "
              "meter_class, type_note, measure, ifnull(retest_of, 0), meter_interval, lab_name, lab_address, "
              "lab_accreditation, lab_method, temperature_bounds, humidity_bounds, pressure_bounds, reference_model, "
              "reference_serial, reference_due, temperature, humidity, pressure, operator, software, meter_base, "
              "meter_transformer, programme_title, "
              "(SELECT count(*) FROM points WHERE run_id = runs.id AND limit_text = '' AND limit_source = ''), "
              "owner, verification_kind, register_number, modification, sign_cipher, sign_pass, sign_mi, "
              "reference_fund, stand_code, end_reason FROM runs "
              "WHERE (?4 < 0 OR id = ?4) AND (?1 = '' OR upper(ltrim(serial, '0')) = upper(ltrim(?1, '0'))) "
              "AND (?2 = '' OR datetime(started, printf('%+d minutes', started_offset)) >= ?2) "
              "ORDER BY id DESC LIMIT ?3");
  if (!q.ok()) return fail(db_, error);
  q.text(1, serial).text(2, since).integer(3, limit > 0 ? limit : -1).integer(4, onlyId);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) {
    RunRow r;
    r.info.meterType = q.columnText(21);
    r.info.meterClass = q.columnText(22);
    r.info.typeNote = q.columnText(23);
    r.info.measure = q.columnText(24);
    r.info.retestOf = q.columnInt(25);
    r.info.meterInterval = static_cast<int>(q.columnInt(26));
    r.info.labName = q.columnText(27);
    r.info.labAddress = q.columnText(28);
    r.info.labAccreditation = q.columnText(29);
    r.info.labMethod = q.columnText(30);
    r.info.temperatureBounds = q.columnText(31);
    r.info.humidityBounds = q.columnText(32);
    r.info.pressureBounds = q.columnText(33);
    r.info.referenceModel = q.columnText(34);
    r.info.referenceSerial = q.columnText(35);
    r.info.referenceDue = q.columnText(36);
    r.info.conditionsKnown = !q.columnNull(37);
    r.info.temperature = q.columnReal(37);
    r.info.humidity = q.columnReal(38);
    r.info.pressure = q.columnReal(39);
    r.info.operatorName = q.columnText(40);
    r.info.software = q.columnText(41);
    r.info.meterBase = q.columnReal(42);
    r.info.meterTransformer = q.columnInt(43) != 0;
    r.info.programmeTitle = q.columnText(44);
    r.withoutLimit = static_cast<int>(q.columnInt(45));
    r.info.owner = q.columnText(46);
    r.info.verificationKind = static_cast<int>(q.columnInt(47));
    r.info.registerNumber = q.columnText(48);
    r.info.modification = q.columnText(49);
    r.info.signCipher = q.columnText(50);
    r.info.signPass = q.columnInt(51) != 0;
    r.info.signMi = q.columnInt(52) != 0;
    r.info.referenceFund = q.columnText(53);
    r.info.standCode = q.columnText(54);
    r.endReason = q.columnText(55);
    r.id = q.columnInt(0);
    r.info.started = stampOf(q, 1, 2);
    r.ended = stampOf(q, 3, 4);
    r.info.workstation = q.columnText(5);
    r.info.station = q.columnText(6);
    r.info.bench = static_cast<int>(q.columnInt(7));
    r.info.address = static_cast<int>(q.columnInt(8));
    r.info.serial = q.columnText(9);
    r.info.deviceType = q.columnText(10);
    r.info.version = q.columnText(11);
    r.info.programmeKey = q.columnText(12);
    r.info.programmeId = static_cast<int>(q.columnInt(13));
    r.info.programmeFile = q.columnText(14);
    r.info.pid = static_cast<uint32_t>(q.columnInt(15));
    r.info.pidMark = static_cast<uint64_t>(q.columnInt(16));
    r.end = endOfWord(q.columnText(17));
    r.verdict = q.columnText(18);
    r.shown = static_cast<int>(q.columnInt(19));
    r.recorded = static_cast<int>(q.columnInt(20));
    out->push_back(r);
  }
  return rc == SQLITE_DONE || fail(db_, error);
}

bool ResultsDb::retestsOf(int64_t id, std::vector<int64_t>* out, std::string* error) {
  Statement q(db_, "SELECT id FROM runs WHERE retest_of = ? ORDER BY id");
  if (!q.ok()) return fail(db_, error);
  q.integer(1, id);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) out->push_back(q.columnInt(0));
  return rc == SQLITE_DONE || fail(db_, error);
}

bool ResultsDb::pointsOf(int64_t run, std::vector<PointRecord>* out, std::string* error) {
  Statement q(db_,
              "SELECT seq, number, u, i, pf, load, phases, average, channel1, channel2, channel3, measured, "
              "measured_offset, duration_ms, limit_text, limit_source, state, reason, spread1, spread2, spread3, "
              "settling_ms, pulses, warning FROM points WHERE run_id = ? ORDER BY seq");
  if (!q.ok()) return fail(db_, error);
  q.integer(1, run);
  const size_t first = out->size();
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
    p.measured = stampOf(q, 11, 12);
    p.durationMs = q.columnInt(13);
    p.limit = q.columnText(14);
    p.limitSource = q.columnText(15);
    p.state = stateOfWord(q.columnText(16));
    p.reason = q.columnText(17);
    for (int n = 0; n < 3; ++n) {
      p.spreadKnown[n] = !q.columnNull(18 + n);
      p.spread[n] = q.columnReal(18 + n);
    }
    p.settlingMs = q.columnInt(21);
    p.pulses = q.columnNull(22) ? -1 : q.columnReal(22);
    p.warning = q.columnText(23);
    out->push_back(p);
  }
  if (rc != SQLITE_DONE) return fail(db_, error);
  Statement g(db_,
              "SELECT seq, taken, taken_offset, channel1, channel2, channel3 FROM readings WHERE run_id = ? "
              "ORDER BY seq, reading");
  if (!g.ok()) return fail(db_, error);
  g.integer(1, run);
  size_t at = first;
  while ((rc = g.step()) == SQLITE_ROW) {
    int seq = static_cast<int>(g.columnInt(0));
    while (at < out->size() && (*out)[at].seq < seq) ++at;
    if (at == out->size()) break;
    if ((*out)[at].seq != seq) continue;
    Reading r;
    r.taken = stampOf(g, 1, 2);
    for (int n = 0; n < 3; ++n) {
      r.fresh[n] = !g.columnNull(3 + n);
      r.channel[n] = g.columnReal(3 + n);
    }
    (*out)[at].readings.push_back(r);
  }
  return rc == SQLITE_DONE || rc == SQLITE_ROW || fail(db_, error);
}

bool ResultsDb::copyTo(const std::string& path, std::string* error) {
  sqlite3* target = nullptr;
  if (sqlite3_open_v2(path.c_str(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    fail(target, error);
    sqlite3_close(target);
    return false;
  }
  // One step over the whole file: the copy is of one moment, whatever the
  // benches write meanwhile.
  sqlite3_backup* b = sqlite3_backup_init(target, "main", db_, "main");
  int rc = b != nullptr ? sqlite3_backup_step(b, -1) : SQLITE_ERROR;
  sqlite3_backup_finish(b);
  bool ok = rc == SQLITE_DONE;
  if (!ok) fail(b == nullptr ? target : db_, error);
  // The copy is one file for the office: no journal beside it.
  if (ok && !execOn(target, "PRAGMA journal_mode = DELETE", error)) ok = false;
  if (sqlite3_close(target) != SQLITE_OK) ok = false;
  return ok;
}

bool writerGone(const RunRow& r, const std::string& station, const std::string& workstation) {
  if (r.end != RunEnd::Open) return false;
  bool ours = r.info.station.empty() ? !workstation.empty() && r.info.workstation == workstation
                                     : !station.empty() && r.info.station == station;
  if (!ours) return false;
  if (!platform::pidRunning(r.info.pid)) return true;
  // A process whose start cannot be told is taken as the one that wrote.
  uint64_t mark = platform::processStartMark(r.info.pid);
  return mark != 0 && r.info.pidMark != 0 && mark != r.info.pidMark;
}

}  // namespace qs::records
