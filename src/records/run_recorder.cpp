#include "records/run_recorder.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/console_control.h"
#include "platform/process.h"

namespace qs::records {

// What one run still has to write, and the connection it writes with. Every
// run of the process that has something waiting is in the pending list, oldest
// first, until all of it is written.
struct PendingRun {
  std::string path;
  RunInfo info;
  std::unique_ptr<ResultsDb> db;
  int64_t id = -1;  // < 0 until the run itself is written
  std::vector<PointRecord> points;
  int shown = 0;
  bool endSet = false;
  RunEndRecord end;
  std::string problem;
  bool walUnavailable = false;  // the database could not be kept in WAL mode
  bool lostLookedFor = false;
  std::shared_ptr<PendingRun> repeats;  // the run this one repeats points of
  // Going on: no end yet, at the bench or from outside.
  bool open = true;
  std::vector<PointState> states;  // of the points shown, for the verdict
  bool anyLimit = false;
  // Why it was ended from outside ("окно закрыто", "Ctrl-C"), "" otherwise.
  std::string endReason;

  bool settled() const { return id >= 0 && points.empty() && !endSet; }
};

namespace {

// Guards every PendingRun: the bench's thread writes, and the end of the
// program (a closed window, on a thread of its own) tries once more. Made
// once and never destroyed, since that try may run while the main thread's
// exit destroys the program's statics; recursive, since a fault inside a
// write ends in the same try on the same thread.
struct Pending {
  std::recursive_timed_mutex lock;
  std::vector<std::shared_ptr<PendingRun>> runs;
  std::atomic<bool> closing{false};  // the program ends: no new write starts
};
Pending& pending() {
  static Pending* p = new Pending;
  return *p;
}
using Lock = std::lock_guard<std::recursive_timed_mutex>;

using Clock = std::chrono::steady_clock;

// Tries to write what one run holds: the run, its waiting points, its count
// of points shown and its end, in one transaction. The last try of the
// program (`last`) leaves lost runs to the next start.
void writeRun(PendingRun& r, bool last = false) {
  std::string error;
  if (r.db == nullptr) {
    r.db = ResultsDb::open(r.path, ResultsDb::Access::Write, &error);
    if (r.db == nullptr) {
      r.problem = error.empty() ? "ошибка базы" : error;
      return;
    }
    r.walUnavailable = r.db->walUnavailable();
  }
  if (!r.lostLookedFor && !last) {
    // Runs of this computer left without an end by a process that is gone
    // (killed, or its stand stopped) are lost; the next run finds them.
    // Looked for once: a locked file is not waited for twice per point.
    r.lostLookedFor = true;
    r.db->markLostRuns(r.info.station, r.info.workstation, &error);
  }
  if (r.settled()) return;
  if (r.id < 0 && r.repeats != nullptr) {
    // Linked by its number, which the run before gets when it is written.
    if (r.repeats->id < 0) {
      r.problem = r.repeats->problem.empty() ? "ждёт записи прогона до повтора" : r.repeats->problem;
      return;
    }
    r.info.retestOf = r.repeats->id;
    r.repeats.reset();
  }
  if (r.db->record(r.info, &r.id, r.points, r.shown, r.endSet ? &r.end : nullptr, &error)) {
    r.points.clear();
    r.endSet = false;
    r.problem.clear();
  } else {
    r.problem = error.empty() ? "ошибка базы" : error;
  }
}

// Writes every run that has something waiting, the oldest first; a run
// written whole leaves the list.
void writeAll() {
  if (pending().closing) return;
  auto& runs = pending().runs;
  for (auto& r : runs) {
    writeRun(*r);
    // A database locked by another writer is locked for the runs after
    // this one too: one wait per try is enough.
    if (r->problem.find("locked") != std::string::npos) break;
  }
  std::vector<std::shared_ptr<PendingRun>> left;
  for (auto& r : runs)
    if (!r->settled() || r.use_count() > 1) left.push_back(r);
  runs.swap(left);
}

// The last try, within `deadline`: each run's database waits for another
// writer no longer than the time left, and a run whose database is not
// open yet is opened only while its own wait fits.
void writeAllBy(Clock::time_point deadline) {
  auto& runs = pending().runs;
  for (auto& r : runs) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    if (r->settled()) continue;
    if (r->db == nullptr && left < kBusyTimeoutMs) continue;
    if (r->db != nullptr) sqlite3_busy_timeout(r->db->handle(), static_cast<int>(left));
    writeRun(*r, true);
  }
}

void registerExitWrite() {
  static std::once_flag once;
  std::call_once(once, [] { platform::addExitCleanup(writeWaitingRecords); });
}

}  // namespace

void writeWaitingRecords() {
  if (pending().closing) return;  // tried already, as the program was ended from outside
  // A bench thread in the middle of a write holds the lock while it waits
  // for the database (its busy time-out, at most twice: the file's layout
  // and the write itself).
  std::unique_lock<std::recursive_timed_mutex> lock(pending().lock, std::defer_lock);
  if (!lock.try_lock_for(std::chrono::milliseconds(3 * kBusyTimeoutMs))) return;
  writeAll();
  pending().closing = true;
}

bool endOpenRuns(const std::string& reason, int withinMs) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(withinMs);
  Pending& p = pending();
  // A bench thread in the middle of a write holds the lock while the
  // database makes it wait: it has half the time, the last write the rest.
  std::unique_lock<std::recursive_timed_mutex> lock(p.lock, std::defer_lock);
  if (p.closing || !lock.try_lock_for(std::chrono::milliseconds(withinMs / 2))) {
    p.closing = true;  // what waits stays as it is: a run going on is found lost later
    return false;
  }
  Stamp now = nowStamp();
  for (auto& r : p.runs) {
    if (!r->open) continue;
    r->open = false;
    r->end.end = RunEnd::Interrupted;
    r->end.ended = now;
    r->end.verdict = runVerdict(r->states, r->anyLimit, false);
    r->end.reason = reason;
    r->endReason = reason;
    r->endSet = true;
  }
  writeAllBy(deadline);
  p.closing = true;
  for (auto& r : p.runs)
    if (!r->settled()) return false;
  return true;
}

void discardWaitingRecords() {
  Lock lock(pending().lock);
  pending().runs.clear();
  pending().closing = false;
}

RunRecorder::RunRecorder(const std::string& databasePath, RunInfo info, const RunRecorder* repeats)
    : run_(std::make_shared<PendingRun>()) {
  registerExitWrite();
  if (repeats != nullptr) run_->repeats = repeats->run_;
  info.pid = platform::ownProcessId();
  info.pidMark = platform::processStartMark(info.pid);
  run_->path = databasePath;
  run_->info = std::move(info);
  Lock lock(pending().lock);
  pending().runs.push_back(run_);
  writeAll();
}

RunRecorder::~RunRecorder() {
  if (!finished_) finish(false);
  Lock lock(pending().lock);
  // What is written whole leaves; the rest waits for the next run or the
  // end of the program. The connection of a run written whole closes.
  if (run_->settled()) run_->db.reset();
  run_.reset();
  writeAll();
}

std::string RunRecorder::note() const {
  Lock lock(pending().lock);
  return run_->walUnavailable ? kNoWalText : "";
}

std::string RunRecorder::problem() const {
  Lock lock(pending().lock);
  for (auto& r : pending().runs)
    if (!r->problem.empty()) return r->problem;
  return "";
}

int RunRecorder::waiting() const {
  Lock lock(pending().lock);
  size_t n = 0;
  for (auto& r : pending().runs) n += r->points.size();
  return static_cast<int>(n);
}

bool RunRecorder::endWaiting() const {
  Lock lock(pending().lock);
  for (auto& r : pending().runs)
    if (r->endSet || r->id < 0) return true;
  return false;
}

void RunRecorder::point(PointRecord& p) {
  judge(p);  // the one place a point of a run is judged
  Lock lock(pending().lock);
  p.seq = static_cast<int>(run_->states.size()) + 1;
  if (limitSought(p)) run_->anyLimit = true;
  run_->states.push_back(p.state);
  if (!run_->open) return;  // ended from outside: the program ends, nothing more is kept
  run_->points.push_back(p);
  run_->shown = p.seq;
  writeAll();
}

std::string RunRecorder::finish(bool finished) {
  finished_ = true;
  Lock lock(pending().lock);
  if (!run_->open) return run_->end.verdict;  // ended from outside already
  std::string verdict = runVerdict(run_->states, run_->anyLimit, finished);
  run_->open = false;
  run_->end.end = finished ? RunEnd::Finished : RunEnd::Interrupted;
  run_->end.ended = nowStamp();
  run_->end.verdict = verdict;
  run_->endSet = true;
  writeAll();
  return verdict;
}

std::string RunRecorder::endReason() const {
  Lock lock(pending().lock);
  return run_->endReason;
}

}  // namespace qs::records
